// vxrt7-cli write of a file with 650 numbers to simulated devices at 115200
// baud (the simulator charges the wire time of every byte): one device alone,
// then four at once in one run of the tool. The whole command is timed, as a
// user waits for it: the read and backup first, the write, the read back.
// Every run gets fresh simulators, so that each device starts empty. Both
// with the window's exchange and with --fast. The tool's peak memory is
// "%M" of /usr/bin/time around the one-device write.
#include "bench/spawn_quiet.h"
#include "files/config_file.h"
#include "tests/support/sim_process.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// Runs the command (output to /dev/null); its wall time in seconds and exit code.
std::pair<double, int> timed(const std::vector<std::string>& args) {
    const SpawnedRun run = spawnQuiet(args);
    return {run.ms / 1000.0, run.exitCode};
}

std::vector<std::string> writeTo(const std::vector<std::unique_ptr<SimProcess>>& devices,
                                 std::size_t count, const std::string& file, bool fast) {
    std::vector<std::string> args{VXRT7_CLI_PATH, "write"};
    if (fast) {
        args.emplace_back("--fast");
    }
    for (std::size_t i = 0; i < count; ++i) {
        args.emplace_back("--port");
        args.push_back(devices[i]->slavePath());
    }
    args.push_back(file);
    return args;
}

} // namespace

int main() {
    char dirTemplate[] = "/tmp/vxrt7-cli-batch-XXXXXX";
    const std::string dir = ::mkdtemp(dirTemplate);
    ::setenv("XDG_DATA_HOME", dir.c_str(), 1); // the backups go there
    MemoryNumberGrid grid;
    for (int row = 1; row <= NumberGrid::kRows; ++row) {
        grid.setCell(NumberGrid::kNumberColumn, row, std::to_string(9161000000LL + row));
        grid.setCell(NumberGrid::kApartmentColumn, row, std::to_string(row));
    }
    ConfigBlock block;
    block.password = 1234;
    const std::string file = dir + "/list.fcd";
    std::ofstream(file, std::ios::binary) << config_file::encode(block.encode(), grid).bytes;

    // Fresh devices for every run: a device written before would be read
    // with 650 numbers first, and its run would not be like for like.
    auto freshDevices = [](int count) {
        std::vector<std::unique_ptr<SimProcess>> devices;
        for (int i = 0; i < count; ++i) {
            devices.push_back(
                std::make_unique<SimProcess>(std::vector<std::string>{"--baud", "115200"}));
            if (!devices.back()->ok()) {
                std::fprintf(stderr, "simulator: %s\n", devices.back()->error().c_str());
                std::exit(1);
            }
        }
        return devices;
    };
    double load[3] = {};
    ::getloadavg(load, 3);
    std::printf("load average %.2f %.2f %.2f\n", load[0], load[1], load[2]);
    for (const bool fast : {false, true}) {
        const auto one = timed(writeTo(freshDevices(1), 1, file, fast));
        const auto four = timed(writeTo(freshDevices(4), 4, file, fast));
        std::printf("write 650 numbers%-7s one device %6.2f s (exit %d), four devices %6.2f s "
                    "(exit %d): %.3f x\n",
                    fast ? " --fast" : "", one.first, one.second, four.first, four.second,
                    four.first / one.first);
    }
    const auto devices = freshDevices(1);
    std::vector<std::string> peak{"/usr/bin/time", "-f", "%M", "-o", dir + "/time.out"};
    const auto write = writeTo(devices, 1, file, true);
    peak.insert(peak.end(), write.begin(), write.end());
    timed(peak);
    std::ifstream in(dir + "/time.out");
    long kib = -1;
    for (std::string word; in >> word;) {
        kib = std::atol(word.c_str());
    }
    std::printf("peak memory of vxrt7-cli writing 650 numbers: %.2f MiB\n", kib / 1024.0);
    ::getloadavg(load, 3);
    std::printf("load average %.2f %.2f %.2f\n", load[0], load[1], load[2]);
    return 0;
}
