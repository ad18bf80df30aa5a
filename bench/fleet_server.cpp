// The fleet server with 1, 50 and 500 simulated GPRS devices (the arguments
// give other counts), 650 numbers each, 100 ms per message (the simulator
// answers every command 100 ms after it came), each with a push job of a
// file with 650 other numbers.
//
// Each run: a fresh register, `vxrt7-cli serve` as a child, `vxrt7-sim
// --connect ... --devices N --latency-ms 100` as another; once every device is
// identified and its snapshot kept, one push job per device is queued (one
// transaction, as `fleet push --all` does) and the time runs until every job
// has finished. Figures: that time (and against one device alone), the
// server's CPU time per device (utime + stime of /proc/PID/stat over the whole
// run, identification included), its peak RSS (VmHWM), the register's size
// with its journal, and the jobs done, failed and lost (not finished within
// 10 min). With KEEP set in the environment the runs' folder (the server's
// and the simulators' logs, the registers) is left in /tmp.
#include "files/config_file.h"
#include "files/number_grid.h"
#include "fleet/fleet_register.h"
#include "tests/support/exec_args.h"
#include "tests/support/loopback_port.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

pid_t spawn(std::vector<std::string> args, const std::string& errFile) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::freopen("/dev/null", "w", stdout);
        std::freopen(errFile.c_str(), "w", stderr);
        execArgs(std::move(args));
    }
    return pid;
}

// utime + stime of a process, in seconds.
double cpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), {});
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    unsigned long long utime = 0;
    unsigned long long stime = 0;
    for (int i = 3; fields >> field; ++i) {
        if (i == 14) {
            utime = std::stoull(field);
        } else if (i == 15) {
            stime = std::stoull(field);
            break;
        }
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// VmHWM of a process, in MB.
double peakRssMb(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stod(line.substr(6)) / 1024.0;
        }
    }
    return 0;
}

std::uintmax_t sizeWithJournal(const std::string& path) {
    std::uintmax_t size = 0;
    for (const char* suffix : {"", "-wal", "-shm"}) {
        std::error_code ignored;
        const auto s = std::filesystem::file_size(path + suffix, ignored);
        size += ignored ? 0 : s;
    }
    return size;
}

void stop(pid_t pid) {
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
}

struct Figures {
    int devices = 0;
    double seconds = 0;      // from queueing the jobs to the last one finished (its time)
    double committed = 0;    // ... to the last one's state committed and seen
    double identify = 0;     // from the start of the simulators to the last snapshot
    double cpuPerDevice = 0; // the server's CPU, ms per device
    double rssMb = 0;
    double registerMb = 0;
    int done = 0;
    int failed = 0;
    int lost = 0;
    double startSpread = 0; // from the first job started to the last, s
    double longestJob = 0;  // the longest from started to finished, s
    double simCpu = 0;      // the simulators' CPU, s
};

std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

Figures run(int devices, const std::string& base) {
    Figures f;
    f.devices = devices;
    const std::string dir = base + "/run-" + std::to_string(devices);
    std::filesystem::create_directories(dir);
    ::setenv("XDG_DATA_HOME", (dir + "/data").c_str(), 1); // backups of the snapshots
    const std::string path = dir + "/fleet.sqlite";
    std::string error;
    auto reg = fleet::FleetRegister::open(path, &error);
    if (!reg) {
        std::fprintf(stderr, "%s\n", error.c_str());
        std::exit(1);
    }
    // What every device holds, and the file each is pushed.
    const std::string numbers = dir + "/numbers.txt";
    {
        std::ofstream out(numbers);
        for (int i = 0; i < NumberGrid::kRows; ++i) {
            out << 9161000000LL + i << ";" << i + 1 << "\n";
        }
    }
    MemoryNumberGrid grid;
    for (int row = 1; row <= NumberGrid::kRows; ++row) {
        grid.setCell(NumberGrid::kNumberColumn, row, std::to_string(9175000000LL + row));
        grid.setCell(NumberGrid::kApartmentColumn, row, std::to_string(row));
    }
    ConfigBlock block;
    block.password = 1234;
    block.pulseMs = 900;
    fleet::JobRequest push;
    push.kind = fleet::JobKind::Push;
    push.file = config_file::encode(block.encode(), grid).bytes;

    const int port = freeLoopbackPort();
    const pid_t server =
        spawn({VXRT7_CLI_PATH, "serve", "--listen", std::to_string(port), "--register", path},
              dir + "/serve.log");
    std::this_thread::sleep_for(300ms); // listening before the devices dial
    const auto started = Clock::now();
    const pid_t sims = spawn({VXRT7_SIM_PATH, "--connect", "127.0.0.1:" + std::to_string(port),
                              "--devices", std::to_string(devices), "--device-number", "1000",
                              "--latency-ms", "100", "--numbers", numbers},
                             dir + "/sim.log");

    std::vector<unsigned> numbersOf;
    for (int i = 0; i < devices; ++i) {
        numbersOf.push_back(1000u + static_cast<unsigned>(i));
    }
    const auto limit = started + 10min;
    auto identified = [&] {
        int n = 0;
        for (const fleet::Device& d : reg->devices()) {
            n += d.numbers == NumberGrid::kRows ? 1 : 0;
        }
        return n;
    };
    while (identified() < devices && Clock::now() < limit) {
        std::this_thread::sleep_for(50ms);
    }
    f.identify = std::chrono::duration<double>(Clock::now() - started).count();

    const auto queued = Clock::now();
    const fleet::Millis queuedAt = std::chrono::duration_cast<std::chrono::milliseconds>(
                                       std::chrono::system_clock::now().time_since_epoch())
                                       .count();
    const std::vector<std::int64_t> jobs = reg->queue(numbersOf, push, queuedAt);
    for (;;) {
        f.done = f.failed = 0;
        for (const fleet::Job& job : reg->jobs()) {
            f.done += job.state == fleet::JobState::Done ? 1 : 0;
            f.failed += job.state == fleet::JobState::Failed ? 1 : 0;
        }
        if (f.done + f.failed == static_cast<int>(jobs.size()) || Clock::now() > limit) {
            break;
        }
        std::this_thread::sleep_for(500ms); // a light look: the jobs' rows hold their files
    }
    f.committed = std::chrono::duration<double>(Clock::now() - queued).count();
    fleet::Millis firstStart = 0;
    fleet::Millis lastStart = 0;
    for (const fleet::Job& job : reg->jobs()) {
        if (job.started == 0) {
            continue;
        }
        firstStart = firstStart == 0 ? job.started : std::min(firstStart, job.started);
        lastStart = std::max(lastStart, job.started);
        if (job.finished != 0) {
            f.longestJob = std::max(f.longestJob, (job.finished - job.started) / 1000.0);
        }
    }
    f.startSpread = (lastStart - firstStart) / 1000.0;
    fleet::Millis lastFinish = queuedAt;
    for (const fleet::Job& job : reg->jobs()) {
        lastFinish = std::max(lastFinish, job.finished);
    }
    f.seconds = (lastFinish - queuedAt) / 1000.0;
    f.lost = static_cast<int>(jobs.size()) - f.done - f.failed;
    f.cpuPerDevice = cpuSeconds(server) * 1000.0 / devices;
    f.rssMb = peakRssMb(server);
    f.simCpu = cpuSeconds(sims);
    stop(sims);
    stop(server);
    reg.reset();
    f.registerMb = static_cast<double>(sizeWithJournal(path)) / (1024.0 * 1024.0);
    return f;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<int> counts = {1, 50, 500};
    if (argc > 1) {
        counts.clear();
        for (int i = 1; i < argc; ++i) {
            counts.push_back(std::atoi(argv[i]));
        }
    }
    std::printf("load average at the start: %s\n", loadAverage().c_str());
    char dirTemplate[] = "/tmp/vxrt7-fleet-bench-XXXXXX";
    const std::string base = ::mkdtemp(dirTemplate);
    std::printf("devices | identified (s) | jobs (s) | x one alone | server CPU per device (ms) "
                "| peak RSS (MB) | register (MB) | done | failed | lost | starts spread (s) "
                "| longest job (s) | simulators' CPU (s) | all committed (s)\n");
    std::fflush(stdout); // nothing of it may be copied into the children
    double alone = 0;
    for (const int n : counts) {
        const Figures f = run(n, base);
        if (alone == 0) {
            alone = f.seconds;
        }
        std::printf("%d | %.1f | %.1f | %.2f | %.1f | %.1f | %.1f | %d | %d | %d | %.1f | %.1f | "
                    "%.1f | %.1f\n",
                    f.devices, f.identify, f.seconds, f.seconds / alone, f.cpuPerDevice, f.rssMb,
                    f.registerMb, f.done, f.failed, f.lost, f.startSpread, f.longestJob, f.simCpu,
                    f.committed);
        std::fflush(stdout);
    }
    std::printf("load average at the end: %s\n", loadAverage().c_str());
    if (!std::getenv("KEEP"))
        std::filesystem::remove_all(base);
    return 0;
}
