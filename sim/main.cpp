// vxrt7-sim: the VX-RT-7 device on a pseudo-terminal, or connected out to the
// configurator's TCP server. The first line on stdout is the path the
// configurator opens (or "tcp HOST:PORT"); the program then serves the device
// until SIGTERM or SIGINT (or, over TCP, until the link ends), removes its link
// and writes the state dump on the way out.
#include "sim/options.h"
#include "sim/sim_runner.h"
#include "sim/state_file.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace {

// The device state the command line asks for; false with a message printed.
bool initialState(const sim::SimOptions& o, sim::DeviceState* state) {
    std::string error;
    state->firmwareVersion = o.firmwareVersion;
    state->loaderVersion = o.loaderVersion;
    state->numberCapacity = o.capacity;
    if (!o.configFile.empty()) {
        std::string content;
        if (!sim::readFile(o.configFile, &content, &error) ||
            !sim::loadConfigBlock(content, &state->configBlock, &error)) {
            std::fprintf(stderr, "vxrt7-sim: --config %s: %s\n", o.configFile.c_str(),
                         error.c_str());
            return false;
        }
    }
    if (o.password) {
        state->setPassword(*o.password);
    }
    if (!o.numbersFile.empty()) {
        std::string content;
        if (!sim::readFile(o.numbersFile, &content, &error) ||
            !sim::loadNumbers(content, state, &error)) {
            std::fprintf(stderr, "vxrt7-sim: --numbers %s: %s\n", o.numbersFile.c_str(),
                         error.c_str());
            return false;
        }
    }
    return true;
}

// The dump of one device: with several, the file name gets "-" and the
// device number.
bool dump(const sim::SimOptions& o, const sim::SimRunner& runner, std::uint16_t number) {
    if (o.dumpFile.empty()) {
        return true;
    }
    const std::string path = o.devices > 1 ? o.dumpFile + "-" + std::to_string(number) : o.dumpFile;
    std::string error;
    if (!sim::writeStateDump(path, runner.snapshot(), &error)) {
        std::fprintf(stderr, "vxrt7-sim: --dump: %s\n", error.c_str());
        return false;
    }
    return true;
}

std::uint16_t deviceNumberOf(const sim::DeviceState& state) {
    return static_cast<std::uint16_t>(state.configBlock[58] | (state.configBlock[59] << 8));
}

void setDeviceNumber(sim::DeviceState& state, std::uint16_t number) {
    state.configBlock[58] = static_cast<std::uint8_t>(number & 0xFF);
    state.configBlock[59] = static_cast<std::uint8_t>(number >> 8);
}

} // namespace

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
    const sim::SimOptions& o = cl.options;

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
    if (!initialState(o, &options.state)) {
        return 2;
    }
    options.faults = o.faults;
    options.pacing = o.pacing;
    options.linkPath = o.linkPath;
    options.traceIn = o.traceIn;
    options.traceOut = o.traceOut;
    options.keepRecord = false;
    options.tcp = o.tcp;
    options.retry = o.retry;
    options.sayAfterLink = o.say;
    options.sayDelay = o.sayDelay;
    // A fleet: every device its own runner (and connection), the device
    // numbers counting up from the first.
    const std::uint16_t first = o.deviceNumber.value_or(deviceNumberOf(options.state));
    std::vector<std::unique_ptr<sim::SimRunner>> runners;
    std::vector<std::uint16_t> numbers;
    try {
        for (unsigned i = 0; i < o.devices; ++i) {
            sim::SimRunner::Options one = options;
            const auto number = static_cast<std::uint16_t>(first + i);
            if (o.deviceNumber || o.devices > 1) {
                setDeviceNumber(one.state, number);
            }
            runners.push_back(std::make_unique<sim::SimRunner>(std::move(one)));
            numbers.push_back(number);
            runners.back()->start();
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vxrt7-sim: %s\n", e.what());
        return 1;
    }

    if (o.fleet) {
        std::printf("connect %s:%u devices %u numbers %u-%u\n", o.tcp->host.c_str(), o.tcp->port,
                    o.devices, numbers.front(), numbers.back());
    } else if (o.tcp) {
        std::printf("tcp %s:%u\n", o.tcp->host.c_str(), o.tcp->port);
    } else {
        std::printf("%s\n", runners.front()->slavePath().c_str());
    }
    std::fflush(stdout);

    int status = 0;
    bool ended = false;
    while (!ended) {
        const timespec quarter{0, 250'000'000};
        const int sig = sigtimedwait(&stopSignals, nullptr, &quarter);
        if (sig > 0) {
            break;
        }
        if (sig < 0 && errno != EAGAIN && errno != EINTR) {
            std::fprintf(stderr, "vxrt7-sim: sigtimedwait: %s\n", std::strerror(errno));
            status = 1;
            break;
        }
        // One device: the program ends with it. A fleet reconnects, so its
        // devices end only when stopped.
        for (const auto& runner : runners) {
            if (!runner->running()) {
                const std::string why = runner->failure();
                if (!why.empty()) {
                    std::fprintf(stderr, "vxrt7-sim: %s\n", why.c_str());
                    status = 1;
                }
                ended = true;
                break;
            }
        }
    }
    for (std::size_t i = 0; i < runners.size(); ++i) {
        runners[i]->stop();
        if (!dump(o, *runners[i], numbers[i])) {
            status = 1;
        }
    }
    return status;
}
