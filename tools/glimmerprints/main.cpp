// glimmerprints: the reference print service. See Usage() in Options.cpp and README.md.

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <exception>
#include <string>
#include <thread>
#include <vector>

#include "Options.h"
#include "Service.h"

int main(int argc, char** argv) {
    const std::string program = argc > 0 ? argv[0] : "glimmerprints";
    std::string error;
    std::optional<glimmer::Options> options = glimmer::ParseOptions(
        std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc), error);
    if (!options) {
        std::fprintf(stderr, "glimmerprints: %s\n%s", error.c_str(),
                     glimmer::Usage(program).c_str());
        return 2;
    }
    if (options->help) {
        std::fputs(glimmer::Usage(program).c_str(), stdout);
        return 0;
    }

    // SIGINT and SIGTERM are taken by one thread with sigwait; they are blocked before any
    // other thread exists, so that every thread inherits the mask.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    try {
        glimmer::Service service(options->config);
        int port = service.Bind(options->host, options->port);
        if (port < 0) {
            std::fprintf(stderr, "glimmerprints: cannot listen on %s:%d\n", options->host.c_str(),
                         options->port);
            return 1;
        }
        const bool v6 = options->host.find(':') != std::string::npos;
        std::printf("listening on http://%s%s%s:%d\n", v6 ? "[" : "", options->host.c_str(),
                    v6 ? "]" : "", port);
        std::fflush(stdout);

        std::atomic<bool> run_done{false};
        std::atomic<bool> signalled{false};
        std::thread waiter([&] {
            int signal_number = 0;
            sigwait(&stop_signals, &signal_number);
            if (run_done) return;
            signalled = true;
            // Stop() does nothing until the server runs, so repeat it until Run() returns.
            while (!run_done) {
                service.Stop();
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
        const bool ran = service.Run();
        run_done = true;
        if (!signalled) pthread_kill(waiter.native_handle(), SIGTERM);
        waiter.join();
        if (!ran && !signalled) {
            std::fprintf(stderr, "glimmerprints: the server stopped unexpectedly\n");
            return 1;
        }
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "glimmerprints: %s\n", e.what());
        return 1;
    }
}
