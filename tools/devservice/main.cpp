#include "dev_service.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

void usage()
{
    std::fprintf(stderr,
                 "usage: korvala-devservice [--port N] [--scripted] [--update ok|optional|required]\n"
                 "                          [--email E] [--password P] [--polls N] [--hours N]\n"
                 "Serves a stand-in for the transcription service on 127.0.0.1 (port 0 or none: any free port).\n");
}

} // namespace

int main(int argc, char** argv)
{
    DevService::Options options;
    int port = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--help" || arg == "-h") {
            usage();
            return 0;
        } else if (arg == "--scripted") {
            options.scripted = true;
        } else if (arg == "--port" && hasValue) {
            port = std::atoi(argv[++i]);
        } else if (arg == "--update" && hasValue) {
            options.update = argv[++i];
        } else if (arg == "--email" && hasValue) {
            options.email = argv[++i];
        } else if (arg == "--password" && hasValue) {
            options.password = argv[++i];
        } else if (arg == "--polls" && hasValue) {
            options.pollsUntilReady = std::atoi(argv[++i]);
        } else if (arg == "--hours" && hasValue) {
            options.monthlyHours = std::atoll(argv[++i]);
        } else {
            usage();
            return 2;
        }
    }

    DevService service(options);
    const int bound = service.bind(port);
    if (bound < 0) {
        std::fprintf(stderr, "korvala-devservice: cannot listen on 127.0.0.1:%d\n", port);
        return 1;
    }
    // The first line is read by scripts and tests: keep its form.
    std::printf("http://127.0.0.1:%d\n", bound);
    std::printf("demo account: %s / %s\n", options.email.c_str(), options.password.c_str());
    std::printf("transcripts: http://127.0.0.1:%d/rasshifrovka\n", bound);
    std::fflush(stdout);

    // Stop cleanly on SIGINT and SIGTERM so that the process exits through main.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::thread waiter([&stopSignals, &service] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        service.stop();
    });
    const bool served = service.serve();
    if (!served)
        pthread_kill(waiter.native_handle(), SIGTERM);
    waiter.join();
    return served ? 0 : 1;
}
