// vxrt7-sim: the VX-RT-7 device on a pseudo-terminal. The first line on stdout
// is the path the configurator opens; the program then serves the device until
// SIGTERM or SIGINT, and removes its link on the way out.
#include "sim/options.h"
#include "sim/sim_runner.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const sim::CommandLine cl = sim::parseCommandLine(args);
    switch (cl.action) {
    case sim::CommandLine::Action::Help:
        std::fputs(sim::usageText().c_str(), stdout);
        return 0;
    case sim::CommandLine::Action::Version:
        std::printf("vxrt7-sim %s\n", VXRT7_VERSION);
        return 0;
    case sim::CommandLine::Action::Fail:
        std::fprintf(stderr, "vxrt7-sim: %s\nTry 'vxrt7-sim --help'.\n", cl.error.c_str());
        return 2;
    case sim::CommandLine::Action::Run:
        break;
    }

    // The stop signals are taken synchronously by this thread; the serving
    // thread inherits the blocked mask and never sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    sim::SimRunner::Options options;
    options.state.firmwareVersion = cl.options.firmwareVersion;
    options.faults = cl.options.faults;
    options.pacing = cl.options.pacing;
    options.linkPath = cl.options.linkPath;
    options.traceIn = cl.options.traceIn;
    options.traceOut = cl.options.traceOut;
    options.keepRecord = false;
    sim::SimRunner runner(options);
    try {
        runner.start();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vxrt7-sim: %s\n", e.what());
        return 1;
    }

    std::printf("%s\n", runner.slavePath().c_str());
    std::fflush(stdout);

    for (;;) {
        const timespec quarter{0, 250'000'000};
        const int sig = sigtimedwait(&stopSignals, nullptr, &quarter);
        if (sig > 0) {
            break;
        }
        if (sig < 0 && errno != EAGAIN && errno != EINTR) {
            std::fprintf(stderr, "vxrt7-sim: sigtimedwait: %s\n", std::strerror(errno));
            break;
        }
        if (!runner.running()) {
            const std::string why = runner.failure();
            std::fprintf(stderr, "vxrt7-sim: %s\n", why.c_str());
            runner.stop();
            return 1;
        }
    }
    runner.stop();
    return 0;
}
