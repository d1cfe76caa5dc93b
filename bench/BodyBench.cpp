// Writes the upload body of an exported order, as the OK workflow does (count the records,
// head, order fields, pictures, close), and prints the time and the peak memory.
//   bench_body CONTROLFILE BODYFILE
// Output, one line: "body_bytes=<n> seconds=<s> cpu_s=<user+system s> peak_rss_kb=<k>"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "order/PrintServiceDlg.h"
#include "platform/ErrorText.h"
#include "support/ConsoleWindow.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_body CONTROLFILE BODYFILE\n");
        return 2;
    }
    CConsoleWindow window;
    CPrintServiceDlg dlg(window);
    dlg.m_strControlFile = argv[1];
    dlg.m_strBodyFile = argv[2];

    const auto start = std::chrono::steady_clock::now();
    try {
        int count = 0;
        dlg.ReadControlFile([&count](int, const OrderRecord&) { ++count; });
        COutFile body;
        if (!body.Open(dlg.m_strBodyFile)) {
            std::fprintf(stderr, "bench_body: cannot create %s\n", argv[2]);
            return 1;
        }
        if (dlg.WriteMimeHeader(body, "bench@example.com", count) != 0) return 1;
        dlg.WriteOrderFields(body);
        dlg.WriteImageParts(body);
        if (!body.Close()) {
            std::fprintf(stderr, "bench_body: writing %s failed\n", argv[2]);
            return 1;
        }
    } catch (const CErrorText& e) {
        std::fprintf(stderr, "%s\n", e.Text().GetString());
        return 1;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    std::printf("body_bytes=%llu seconds=%.4f cpu_s=%.3f peak_rss_kb=%ld\n",
                static_cast<unsigned long long>(std::filesystem::file_size(argv[2])), seconds, cpu,
                usage.ru_maxrss);
    return 0;
}
