#include "platform/Shell.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace {

constexpr int kStarted = 42;
constexpr int kFileNotFound = 2;  // what the shell call returns when nothing could start

// Reads from `fd` until it is closed; true when the grandchild reported a failed exec.
bool ExecFailed(int fd) {
    int error = 0;
    ssize_t n;
    do {
        n = ::read(fd, &error, sizeof error);
    } while (n < 0 && errno == EINTR);
    return n > 0;
}

}  // namespace

int ShellExecuteA(const char* file, const char* parameters) {
    if (!file || !*file) return kFileNotFound;
    const bool open = !parameters;
    char xdgOpen[] = "xdg-open";
    char* argv[3] = {};
    if (open) {
        argv[0] = xdgOpen;
        argv[1] = const_cast<char*>(file);
    } else {
        argv[0] = const_cast<char*>(file);
        argv[1] = const_cast<char*>(parameters);
    }

    // The exec happens in a grandchild so the browser is never our zombie; a close-on-exec
    // pipe tells whether the exec worked.
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return kFileNotFound;
    pid_t child = ::fork();
    if (child < 0) {
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return kFileNotFound;
    }
    if (child == 0) {
        ::close(pipeFds[0]);
        ::setsid();
        pid_t grandchild = ::fork();
        if (grandchild == 0) {
            if (open)
                ::execvp(argv[0], argv);
            else
                ::execv(argv[0], argv);
            int error = errno;
            (void)!::write(pipeFds[1], &error, sizeof error);
            ::_exit(127);
        }
        ::_exit(grandchild < 0 ? 1 : 0);
    }
    ::close(pipeFds[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    bool failed = !WIFEXITED(status) || WEXITSTATUS(status) != 0 || ExecFailed(pipeFds[0]);
    ::close(pipeFds[0]);
    return failed ? kFileNotFound : kStarted;
}
