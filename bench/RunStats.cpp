// Runs a command and notes its wall time and its peak resident memory, for the anchors
// (cp, curl) and the dialog program, measured the same way as our own programs.
//   bench_run OUTFILE COMMAND [ARG...]
// OUTFILE gets one line: "seconds=<s> cpu_s=<user+system s> peak_rss_kb=<k> exit=<status>". The
// exit status of bench_run is the command's.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_run OUTFILE COMMAND [ARG...]\n");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child < 0) {
        std::perror("bench_run: fork");
        return 1;
    }
    if (child == 0) {
        ::execvp(argv[2], argv + 2);
        std::fprintf(stderr, "bench_run: cannot run %s: %s\n", argv[2], std::strerror(errno));
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    while (::wait4(child, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            std::perror("bench_run: wait4");
            return 1;
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::FILE* out = std::fopen(argv[1], "w");
    if (!out) {
        std::perror("bench_run: output file");
        return 1;
    }
    const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    std::fprintf(out, "seconds=%.4f cpu_s=%.3f peak_rss_kb=%ld exit=%d\n", seconds, cpu,
                 usage.ru_maxrss, code);
    std::fclose(out);
    return code;
}
