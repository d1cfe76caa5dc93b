// Starts a program on an X display and notes when its window, found by its title, is
// mapped: the moment the dialog is shown. Afterwards it waits for the program to end and
// notes its wall time and peak resident memory.
//   bench_launch [--kill-when-shown] TITLE SHOWNFILE RESULTFILE COMMAND [ARG...]
// SHOWNFILE gets "shown_ms=<ms from start> window=<id>" as soon as the window is mapped
// (written whole, then renamed into place, so a reader never sees half a line).
// RESULTFILE gets "seconds=<s> cpu_s=<user+system s> peak_rss_kb=<k> exit=<status>" when the
// program has ended.
// --kill-when-shown ends the program with SIGTERM once its window is there.
// Exit status: 0 when the window was shown and the program ended, 1 otherwise.

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kShowTimeout = std::chrono::seconds(120);

Atom g_netWmName = None;
Atom g_utf8 = None;

std::string WindowTitle(Display* display, Window window) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::string title;
    if (XGetWindowProperty(display, window, g_netWmName, 0, 1024, False, g_utf8, &type, &format,
                           &count, &after, &data) == Success &&
        data != nullptr && type == g_utf8 && format == 8)
        title.assign(reinterpret_cast<const char*>(data), count);
    if (data) XFree(data);
    if (!title.empty()) return title;
    char* name = nullptr;
    if (XFetchName(display, window, &name) && name) {
        title = name;
        XFree(name);
    }
    return title;
}

bool WriteLine(const std::string& path, const std::string& line) {
    const std::string temporary = path + ".part";
    std::FILE* out = std::fopen(temporary.c_str(), "w");
    if (!out) return false;
    std::fputs(line.c_str(), out);
    std::fputc('\n', out);
    return std::fclose(out) == 0 && std::rename(temporary.c_str(), path.c_str()) == 0;
}

double CpuSeconds(const rusage& usage) {
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Ignores errors on windows that went away between the event and the property read.
int IgnoreXErrors(Display*, XErrorEvent*) {
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int arg = 1;
    bool killWhenShown = false;
    if (arg < argc && std::strcmp(argv[arg], "--kill-when-shown") == 0) {
        killWhenShown = true;
        ++arg;
    }
    if (argc - arg < 4) {
        std::fprintf(stderr,
                     "usage: bench_launch [--kill-when-shown] TITLE SHOWNFILE RESULTFILE COMMAND "
                     "[ARG...]\n");
        return 2;
    }
    const std::string title = argv[arg];
    const std::string shownFile = argv[arg + 1];
    const std::string resultFile = argv[arg + 2];
    char** command = argv + arg + 3;

    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "bench_launch: cannot open the display\n");
        return 1;
    }
    XSetErrorHandler(IgnoreXErrors);
    g_netWmName = XInternAtom(display, "_NET_WM_NAME", False);
    g_utf8 = XInternAtom(display, "UTF8_STRING", False);
    const Window root = DefaultRootWindow(display);
    XSelectInput(display, root, SubstructureNotifyMask);
    XSync(display, False);
    const int xfd = ConnectionNumber(display);
    ::fcntl(xfd, F_SETFD, FD_CLOEXEC);

    const auto start = Clock::now();
    const pid_t child = ::fork();
    if (child < 0) {
        std::perror("bench_launch: fork");
        return 1;
    }
    if (child == 0) {
        ::execvp(command[0], command);
        std::fprintf(stderr, "bench_launch: cannot run %s: %s\n", command[0], std::strerror(errno));
        ::_exit(127);
    }

    // Mapped windows whose title was not (yet) the one looked for: their title changes are
    // watched, since a program may name its window only after mapping it.
    std::set<Window> watched;
    bool shown = false;
    int status = 0;
    rusage usage{};
    bool ended = false;
    while (!shown) {
        if (Clock::now() - start > kShowTimeout) break;
        if (::wait4(child, &status, WNOHANG, &usage) == child) {
            ended = true;
            break;
        }
        pollfd pfd{xfd, POLLIN, 0};
        if (!XPending(display)) ::poll(&pfd, 1, 20);
        while (!shown && XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            Window candidate = None;
            if (event.type == MapNotify) {
                candidate = event.xmap.window;
            } else if (event.type == PropertyNotify && watched.count(event.xproperty.window) &&
                       (event.xproperty.atom == XA_WM_NAME ||
                        event.xproperty.atom == g_netWmName)) {
                candidate = event.xproperty.window;
            } else if (event.type == UnmapNotify) {
                watched.erase(event.xunmap.window);
            }
            if (candidate == None) continue;
            if (WindowTitle(display, candidate) == title) {
                const double ms =
                    std::chrono::duration<double, std::milli>(Clock::now() - start).count();
                char line[128];
                std::snprintf(line, sizeof line, "shown_ms=%.1f window=%lu", ms, candidate);
                if (!WriteLine(shownFile, line))
                    std::fprintf(stderr, "bench_launch: cannot write %s\n", shownFile.c_str());
                shown = true;
            } else if (watched.insert(candidate).second) {
                XSelectInput(display, candidate, PropertyChangeMask);
            }
        }
    }
    if (!shown && !ended)
        std::fprintf(stderr, "bench_launch: no window titled '%s' appeared\n", title.c_str());
    if (!ended && (killWhenShown || !shown)) ::kill(child, SIGTERM);
    while (!ended) {
        if (::wait4(child, &status, 0, &usage) == child) {
            ended = true;
        } else if (errno != EINTR) {
            std::perror("bench_launch: wait4");
            return 1;
        }
    }
    XCloseDisplay(display);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    char line[128];
    std::snprintf(line, sizeof line, "seconds=%.4f cpu_s=%.3f peak_rss_kb=%ld exit=%d", seconds,
                  CpuSeconds(usage), usage.ru_maxrss, code);
    WriteLine(resultFile, line);
    return shown ? 0 : 1;
}
