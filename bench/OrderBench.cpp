// The whole order without a window on screen: the dialog's initialisation from the control
// file (host installation, settings, language, saved address), then the OK workflow from
// the address check to the account page, exactly as the dialog runs it.
//   bench_order CONTROLFILE
// The host installation and the settings file named after this program
// ($XDG_CONFIG_HOME/pictorvale/bench_order.ini, with [Dialog] CustomerID and [Service] Host)
// are prepared by the caller; the browser it registers receives the account address.
// Output, one line: "ok_ns=<realtime ns when OK was pressed> seconds=<s> cpu_s=<user+system
// seconds of the whole process> peak_rss_kb=<k>"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <ctime>

#include "order/PrintServiceDlg.h"
#include "support/HeadlessWindow.h"

namespace {

long long RealtimeNs() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_order CONTROLFILE\n");
        return 2;
    }
    CHeadlessWindow window;
    CPrintServiceDlg dlg(window);
    dlg.OnInitDialog(argv[1]);
    if (window.m_bEnded || window.m_strEmail.IsEmpty()) {
        std::fprintf(stderr, "bench_order: the initialisation failed or gave no saved address\n");
        return 1;
    }

    const long long okNs = RealtimeNs();
    const auto start = std::chrono::steady_clock::now();
    dlg.OnBnClickedOk();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    if (!window.m_bEnded || window.m_nEndResult != IDOK || window.m_nBoxes != 0) {
        std::fprintf(stderr, "bench_order: the order did not complete (result %d, %d boxes)\n",
                     window.m_nEndResult, window.m_nBoxes);
        return 1;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    std::printf("ok_ns=%lld seconds=%.4f cpu_s=%.3f peak_rss_kb=%ld\n", okNs, seconds, cpu,
                usage.ru_maxrss);
    return 0;
}
