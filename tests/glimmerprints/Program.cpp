#include "Program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace gptest {
namespace {

std::string ReadAll(int fd) {
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

}  // namespace

Program::Program(std::vector<std::string> args, const std::string& working_dir) {
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    if (::pipe2(err, O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        throw std::runtime_error("pipe");
    }
    args.insert(args.begin(), GLIMMERPRINTS_EXE);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ == 0) {
        // Only async-signal-safe calls from here on. The program dies with the test process
        // even when that crashes, so that no service outlives its test.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
        if (::dup2(out[1], 1) < 0 || ::dup2(err[1], 2) < 0) ::_exit(127);
        if (!working_dir.empty() && ::chdir(working_dir.c_str()) != 0) ::_exit(127);
        ::execve(GLIMMERPRINTS_EXE, argv.data(), environ);
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    out_ = out[0];
    err_ = err[0];
    if (pid_ < 0) throw std::runtime_error("fork failed");
}

Program::~Program() {
    Kill();
    ::close(out_);
    ::close(err_);
}

std::optional<std::string> Program::ReadLine(std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string line;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd entry{out_, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&entry, 1, static_cast<int>(left.count())) <= 0) {
            return std::nullopt;
        }
        char c;
        if (::read(out_, &c, 1) != 1) return std::nullopt;
        if (c == '\n') return line;
        line.push_back(c);
    }
}

std::string Program::Stdout() {
    return ReadAll(out_);
}

std::string Program::Stderr() {
    return ReadAll(err_);
}

void Program::Signal(int signal_number) {
    if (pid_ > 0) ::kill(pid_, signal_number);
}

int Program::Wait(std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (pid_ > 0 && std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

void Program::Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

std::optional<long> Program::PeakRssKib() const {
    if (pid_ <= 0) return std::nullopt;
    std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    }
    return std::nullopt;
}

int PortOf(const std::string& line) {
    std::smatch match;
    if (!std::regex_match(line, match,
                          std::regex("listening on http://127\\.0\\.0\\.1:([0-9]+)"))) {
        return -1;
    }
    return std::stoi(match[1]);
}

}  // namespace gptest
