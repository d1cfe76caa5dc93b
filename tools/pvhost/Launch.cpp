#include "pvhost/Launch.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

namespace pvhost {

std::string DefaultToolPath(const std::string& selfExecutable) {
    size_t slash = selfExecutable.rfind('/');
    if (slash != std::string::npos) {
        std::string candidate = selfExecutable.substr(0, slash + 1) + kToolName;
        struct stat st {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return kToolName;
}

StartResult StartTool(const std::string& tool, const std::string& argument) {
    StartResult result;
    // The child reports a failed exec through this pipe; a successful exec closes it.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        result.error = errno;
        return result;
    }
    // Everything the child needs is prepared before the fork.
    std::string program = tool;
    std::string arg = argument;
    char* argv[] = {program.data(), arg.data(), nullptr};

    pid_t pid = ::fork();
    if (pid < 0) {
        result.error = errno;
        ::close(report[0]);
        ::close(report[1]);
        return result;
    }
    if (pid == 0) {
        ::close(report[0]);
        ::execvp(argv[0], argv);
        int error = errno;
        ssize_t ignored = ::write(report[1], &error, sizeof error);
        (void)ignored;
        ::_exit(127);
    }
    ::close(report[1]);
    int error = 0;
    ssize_t n;
    do {
        n = ::read(report[0], &error, sizeof error);
    } while (n < 0 && errno == EINTR);
    ::close(report[0]);
    if (n > 0) {
        // The exec failed: collect the child, which ends at once.
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        result.error = error != 0 ? error : ENOEXEC;
        return result;
    }
    result.pid = pid;
    return result;
}

ToolEnd WaitTool(pid_t pid) {
    ToolEnd end;
    int status = 0;
    for (;;) {
        pid_t done = ::waitpid(pid, &status, 0);
        if (done == pid) break;
        if (done < 0 && errno != EINTR) {
            // Nothing left to wait for (collected elsewhere): report it as a failure.
            end.exited = true;
            end.status = 1;
            return end;
        }
    }
    if (WIFEXITED(status)) {
        end.exited = true;
        end.status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        end.signal = WTERMSIG(status);
    }
    return end;
}

int ExitCodeOf(const ToolEnd& end) { return end.exited ? end.status : 128 + end.signal; }

std::string DescribeEnd(const std::string& tool, const ToolEnd& end) {
    if (end.exited) return tool + " ended with exit status " + std::to_string(end.status);
    const char* name = ::strsignal(end.signal);
    return tool + " was ended by signal " + std::to_string(end.signal) + (name ? std::string(" (") + name + ")" : "");
}

}  // namespace pvhost
