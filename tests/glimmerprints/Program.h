#pragma once
// The glimmerprints program as a child process, its stdout and stderr on pipes.

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace gptest {

// Runs the built glimmerprints with `args` (in `working_dir` when given); killed and reaped if
// still running when the object goes, and killed by the kernel when the thread that made the
// object ends (so a crashed test leaves no service behind).
class Program {
public:
    explicit Program(std::vector<std::string> args, const std::string& working_dir = {});
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // One line of stdout, waiting at most `timeout`.
    std::optional<std::string> ReadLine(std::chrono::milliseconds timeout);

    // Everything the program writes there until it closes the stream (so: until it ends).
    std::string Stdout();
    std::string Stderr();

    void Signal(int signal_number);

    // The exit status, or -1 when it does not end within `timeout` (or ends by a signal).
    int Wait(std::chrono::milliseconds timeout);

    // SIGKILL, and waits for the end.
    void Kill();

    bool running() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    // The peak resident set size so far (VmHWM of /proc/PID/status) in KiB; nullopt when it
    // cannot be read.
    std::optional<long> PeakRssKib() const;

private:
    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
};

// The port of the start-up line "listening on http://127.0.0.1:PORT", or -1.
int PortOf(const std::string& line);

}  // namespace gptest
