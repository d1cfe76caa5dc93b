// The glimmerprints program itself: start-up line, an order, and a clean stop on SIGTERM.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <thread>

#include "Harness.h"

extern char** environ;

namespace {

using namespace gptest;

// The program running with its stdout and stderr on pipes; killed and reaped if still running
// when the object goes.
class Program {
public:
    explicit Program(std::vector<std::string> args) {
        int out[2], err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        args.insert(args.begin(), GLIMMERPRINTS_EXE);
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        int result = posix_spawn(&pid_, GLIMMERPRINTS_EXE, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        out_ = out[0];
        err_ = err[0];
        if (result != 0) throw std::runtime_error("posix_spawn failed");
    }
    ~Program() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(out_);
        ::close(err_);
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // One line of stdout, waiting at most `timeout`.
    std::optional<std::string> ReadLine(std::chrono::milliseconds timeout) {
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

    std::string ReadAll(int fd) {
        std::string text;
        char buffer[4096];
        for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
            text.append(buffer, static_cast<std::size_t>(n));
        }
        return text;
    }
    std::string Stdout() { return ReadAll(out_); }
    std::string Stderr() { return ReadAll(err_); }

    void Signal(int signal_number) { ::kill(pid_, signal_number); }

    // The exit status, or -1 when it does not end within `timeout` (or ends by a signal).
    int Wait(std::chrono::milliseconds timeout) {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
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

private:
    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
};

int PortOf(const std::string& line) {
    std::smatch match;
    if (!std::regex_match(line, match,
                          std::regex("listening on http://127\\.0\\.0\\.1:([0-9]+)"))) {
        return -1;
    }
    return std::stoi(match[1]);
}

TEST(Program, ServesAnOrderAndStopsOnSigterm) {
    TempDir temp;
    const std::string data = (temp.path() / "data").string();
    std::string password;
    for (int signal_number : {SIGTERM, SIGINT}) {
        Program program({"--listen", "127.0.0.1:0", "--data", data, "--quiet"});
        auto line = program.ReadLine(std::chrono::seconds(10));
        ASSERT_TRUE(line);
        const int port = PortOf(*line);
        ASSERT_GT(port, 0) << *line;

        if (password.empty()) {
            auto answer = PostOrder(port, BuildBody(OrderParts("ann@example.com", TwoPictures())));
            ASSERT_TRUE(answer);
            ASSERT_EQ(answer->status, 200) << answer->body;
            password = answer->body;
        }
        // The second run finds the first run's order.
        auto page = Get(port, AccountTarget("ann@example.com", password));
        ASSERT_TRUE(page);
        EXPECT_EQ(page->status, 200);
        EXPECT_NE(page->body.find("C:\\Temp\\PV0001.jpg"), std::string::npos);

        program.Signal(signal_number);
        EXPECT_EQ(program.Wait(std::chrono::seconds(10)), 0) << "signal " << signal_number;
    }
    EXPECT_EQ(CountRows(temp.path() / "data", "orders"), 1);
}

TEST(Program, OneProgramPerDataFolder) {
    TempDir temp;
    const std::string data = (temp.path() / "data").string();
    Program first({"--listen", "127.0.0.1:0", "--data", data, "--quiet"});
    ASSERT_TRUE(first.ReadLine(std::chrono::seconds(10)));
    Program second({"--listen", "127.0.0.1:0", "--data", data, "--quiet"});
    EXPECT_EQ(second.Wait(std::chrono::seconds(10)), 1);
    EXPECT_NE(second.Stderr().find("in use"), std::string::npos);
    first.Signal(SIGTERM);
    EXPECT_EQ(first.Wait(std::chrono::seconds(10)), 0);
}

TEST(Program, HelpAndBadCommandLines) {
    {
        Program help({"--help"});
        EXPECT_EQ(help.Wait(std::chrono::seconds(10)), 0);
        EXPECT_NE(help.Stdout().find("usage: "), std::string::npos);
    }
    const std::vector<std::vector<std::string>> kBad = {
        {},
        {"--data", "/tmp/x", "--frobnicate"},
        {"--data", "/tmp/x", "--listen", "127.0.0.1"},
        {"--data", "/tmp/x", "--max-body", "lots"},
        {"--listen", "127.0.0.1:0"},
    };
    for (const auto& args : kBad) {
        Program program(args);
        EXPECT_EQ(program.Wait(std::chrono::seconds(10)), 2) << ::testing::PrintToString(args);
        const std::string err = program.Stderr();
        EXPECT_NE(err.find("glimmerprints: "), std::string::npos) << err;
        EXPECT_EQ(program.Stdout(), "");
    }
}

}  // namespace
