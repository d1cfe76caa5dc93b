// Posts a body file to a print service with the tool's upload and prints the time and the
// peak memory.   bench_upload BODYFILE HOST:PORT EMAIL
// Output, one line: "body_bytes=<n> seconds=<s> cpu_s=<user+system s> peak_rss_kb=<k>"

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "order/PrintServiceDlg.h"
#include "platform/ErrorText.h"
#include "support/ConsoleWindow.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: bench_upload BODYFILE HOST:PORT EMAIL\n");
        return 2;
    }
    const std::filesystem::path settings = std::filesystem::temp_directory_path() /
                                           ("bench_upload-" + std::to_string(::getpid()) + ".ini");
    std::ofstream(settings) << "[Service]\nHost=" << argv[2] << "\n";

    CConsoleWindow window;
    CPrintServiceDlg dlg(window);
    dlg.m_strBodyFile = argv[1];
    dlg.m_strEmail = argv[3];
    dlg.m_strSettingsFile = settings.c_str();

    const auto start = std::chrono::steady_clock::now();
    int status = 0;
    try {
        dlg.PostBodyFile();
    } catch (const CErrorText& e) {
        std::fprintf(stderr, "%s\n", e.Text().GetString());
        status = 1;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::filesystem::remove(settings);
    if (status != 0) return status;

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    std::printf("body_bytes=%llu seconds=%.4f cpu_s=%.3f peak_rss_kb=%ld\n",
                static_cast<unsigned long long>(std::filesystem::file_size(argv[1])), seconds, cpu,
                usage.ru_maxrss);
    return 0;
}
