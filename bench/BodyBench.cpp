// Writes the upload body for a generated order and prints the time and peak memory.
//   bench_body DIR COUNT SIZE   (pictures DIR/pictures/pNNNN.jpg are made when missing)
// Output, one line: "body_bytes=<n> seconds=<s> peak_rss_kb=<k>"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "order/PrintServiceDlg.h"
#include "platform/ErrorText.h"
#include "support/ConsoleWindow.h"

namespace {

void MakePicture(const std::string& path, std::size_t size, unsigned seed) {
    if (std::filesystem::exists(path) && std::filesystem::file_size(path) == size) return;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::vector<char> block(1 << 20);
    std::size_t written = 0;
    unsigned x = seed * 2654435761u + 1;
    while (written < size) {
        for (auto& c : block) {
            x = x * 1103515245u + 12345u;
            c = static_cast<char>(x >> 24);
        }
        std::size_t n = std::min(block.size(), size - written);
        out.write(block.data(), static_cast<std::streamsize>(n));
        written += n;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: bench_body DIR COUNT SIZE\n");
        return 2;
    }
    const std::string dir = argv[1];
    const int count = std::atoi(argv[2]);
    const std::size_t size = std::strtoull(argv[3], nullptr, 10);
    std::filesystem::create_directories(dir + "/pictures");

    std::string control;
    for (int i = 0; i < count; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "/pictures/p%05d.jpg", i + 1);
        MakePicture(dir + name, size, static_cast<unsigned>(i));
        control += dir + name + "|1|4.00x6.00|x|Picture " + std::to_string(i + 1) + "\n";
    }
    std::ofstream(dir + "/order.ctl", std::ios::binary | std::ios::trunc) << control;

    CConsoleWindow window;
    CPrintServiceDlg dlg(window);
    dlg.m_strControlFile = (dir + "/order.ctl").c_str();
    dlg.m_strBodyFile = (dir + "/order.txt").c_str();

    const auto start = std::chrono::steady_clock::now();
    COutFile body;
    if (!body.Open(dlg.m_strBodyFile)) return 1;
    try {
        if (dlg.WriteMimeHeader(body, "bench@example.com", count) != 0) return 1;
        dlg.WriteOrderFields(body);
        dlg.WriteImageParts(body);
    } catch (const CErrorText& e) {
        std::fprintf(stderr, "%s\n", e.Text().GetString());
        return 1;
    }
    if (!body.Close()) return 1;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("body_bytes=%llu seconds=%.3f peak_rss_kb=%ld\n",
                static_cast<unsigned long long>(std::filesystem::file_size(dir + "/order.txt")), seconds,
                usage.ru_maxrss);
    return 0;
}
