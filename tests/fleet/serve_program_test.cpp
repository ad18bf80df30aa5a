// `vxrt7-cli serve` as a program, a child of the test: what it refuses (a
// port in use, a register that is none), a SIGKILL in the middle of a write
// and the restart that runs the job again, SIGTERM, and a flood of
// connections that never announce themselves (more than the server's file
// limit allows, too) while a device is served.
#include "files/config_file.h"
#include "files/number_grid.h"
#include "fleet/fleet_register.h"
#include "sim/sim_runner.h"
#include "tests/support/exec_args.h"
#include "tests/support/loopback_port.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using fleet::JobState;

// Waits for `done`, looking every 20 ms, at most `limit`.
bool waitFor(const std::function<bool()>& done, std::chrono::seconds limit = 60s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

// The server program; its stderr goes to a file of the test's folder.
class Serve {
  public:
    // `soft` and `hard`: the child's open-file limit (0: as the test's).
    Serve(const TempDir& dir, std::vector<std::string> args, rlim_t soft = 0, rlim_t hard = 0)
        : log_(dir.filePath("serve-" + std::to_string(++runs_) + ".log")) {
        args.insert(args.begin(), {VXRT7_CLI_PATH, "serve"});
        const std::string data = dir.filePath("data");
        pid_ = ::fork();
        if (pid_ == 0) {
            const int err = ::open(log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(err, 2);
            ::setenv("XDG_DATA_HOME", data.c_str(), 1);
            if (soft != 0) {
                const rlimit limit{soft, hard};
                ::setrlimit(RLIMIT_NOFILE, &limit);
            }
            execArgs(std::move(args));
        }
    }
    ~Serve() {
        if (pid_ > 0 && status_ < 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    pid_t pid() const { return pid_; }
    std::string log() const {
        std::ifstream in(log_);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    bool logHas(const std::string& text) const { return log().find(text) != std::string::npos; }
    // The exit code, or 128 + the signal; -1 when it is still running after `limit`.
    int wait(std::chrono::seconds limit = 30s) {
        waitFor(
            [&] {
                int status = 0;
                if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                }
                return status_ >= 0;
            },
            limit);
        return status_;
    }
    bool alive() const { return status_ < 0 && ::kill(pid_, 0) == 0; }

  private:
    static inline int runs_ = 0;
    std::string log_;
    pid_t pid_ = -1;
    int status_ = -1;
};

std::vector<sim::NumberEntry> numbersFrom(long long first, int count) {
    std::vector<sim::NumberEntry> out;
    for (int i = 0; i < count; ++i) {
        out.push_back({std::to_string(first + i), static_cast<std::uint16_t>(i + 1)});
    }
    return out;
}

std::unique_ptr<sim::SimRunner> device(int port, unsigned number,
                                       std::chrono::milliseconds latency) {
    sim::SimRunner::Options o;
    o.state.configBlock[58] = static_cast<std::uint8_t>(number);
    o.state.numbers = numbersFrom(9161110000, 20);
    o.pacing.processingDelay = latency;
    o.tcp = sim::TcpTarget{"127.0.0.1", static_cast<unsigned>(port)};
    o.retry = 100ms;
    auto runner = std::make_unique<sim::SimRunner>(std::move(o));
    runner->start();
    return runner;
}

std::string fcdWith(const std::vector<sim::NumberEntry>& numbers) {
    ConfigBlock block;
    block.password = 1234;
    MemoryNumberGrid grid;
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        grid.setCell(NumberGrid::kNumberColumn, static_cast<int>(i) + 1, numbers[i].number);
        grid.setCell(NumberGrid::kApartmentColumn, static_cast<int>(i) + 1,
                     std::to_string(numbers[i].apartment));
    }
    return config_file::encode(block.encode(), grid).bytes;
}

std::string integrity(const std::string& path) {
    sqlite3* db = nullptr;
    std::string out;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_exec(
            db, "PRAGMA integrity_check",
            [](void* text, int, char** values, char**) {
                *static_cast<std::string*>(text) += values[0] != nullptr ? values[0] : "";
                return 0;
            },
            &out, nullptr);
    }
    sqlite3_close(db);
    return out;
}

struct Register {
    std::unique_ptr<fleet::FleetRegister> reg;
    explicit Register(const std::string& path) {
        std::string error;
        reg = fleet::FleetRegister::open(path, &error);
        EXPECT_TRUE(reg) << error;
    }
    std::int64_t push(unsigned device, const std::string& file) {
        fleet::JobRequest request;
        request.file = file;
        return reg->queue({device}, request, 1)[0];
    }
    JobState state(std::int64_t job) { return reg->job(job)->state; }
};

TEST(FleetServeProgram, APortInUseABadPortAndARegisterThatIsNoneAreRefusedClearly) {
    TempDir dir;
    const int busy = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    socklen_t len = sizeof a;
    ASSERT_EQ(::bind(busy, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(busy, 1), 0);
    ::getsockname(busy, reinterpret_cast<sockaddr*>(&a), &len);
    const std::string port = std::to_string(ntohs(a.sin_port));
    Serve inUse(dir, {"--listen", port, "--register", dir.filePath("r.sqlite")});
    EXPECT_EQ(inUse.wait(), 3);
    EXPECT_TRUE(inUse.logHas("Порт " + port + " уже занят другой программой")) << inUse.log();
    ::close(busy);

    Serve badPort(dir, {"--listen", "70000", "--register", dir.filePath("r.sqlite")});
    EXPECT_EQ(badPort.wait(), 2);
    EXPECT_TRUE(badPort.logHas("не число от 0 до 65535")) << badPort.log();

    const std::string notes = dir.filePath("notes.txt");
    std::ofstream(notes) << "это не реестр\n";
    Serve noRegister(dir, {"--listen", "0", "--register", notes});
    EXPECT_EQ(noRegister.wait(), 2);
    EXPECT_NE(noRegister.log().find(notes), std::string::npos) << noRegister.log();
    std::ifstream kept(notes);
    std::string line;
    std::getline(kept, line);
    EXPECT_EQ(line, "это не реестр");
}

TEST(FleetServeProgram, ASigkilledServerLosesNoJobAndItsRestartRunsItAgain) {
    TempDir dir;
    const std::string path = dir.filePath("fleet.sqlite");
    const int port = freeLoopbackPort();
    const std::vector<std::string> args = {"--listen", std::to_string(port), "--register", path,
                                           "--json"};
    auto server = std::make_unique<Serve>(dir, args);
    auto dev = device(port, 61, 5ms);
    Register reg(path);
    ASSERT_TRUE(waitFor([&] { return reg.reg->device(61).has_value(); })) << server->log();
    const auto file = numbersFrom(9175550000, 300);
    const std::int64_t job = reg.push(61, fcdWith(file));
    // Killed in the middle of the write: the device has taken some batches.
    ASSERT_TRUE(waitFor([&] {
        const std::string got = dev->received();
        std::size_t batches = 0;
        for (auto at = got.find("ADN"); at != std::string::npos; at = got.find("ADN", at + 1)) {
            ++batches;
        }
        return batches >= 5;
    })) << server->log();
    ASSERT_EQ(::kill(server->pid(), SIGKILL), 0);
    EXPECT_EQ(server->wait(), 128 + SIGKILL);
    EXPECT_EQ(integrity(path), "ok");
    EXPECT_EQ(reg.state(job), JobState::Running);

    server = std::make_unique<Serve>(dir, args);
    ASSERT_TRUE(waitFor([&] { return reg.state(job) == JobState::Done; }, 120s)) << server->log();
    EXPECT_EQ(reg.reg->job(job)->tries, 2);
    EXPECT_EQ(dev->snapshot().numbers, file);
    EXPECT_TRUE(server->logHas("\"event\":\"jobDone\"")) << server->log();

    // SIGTERM in the middle of the next write: the server gives the exchange
    // at most 5 s, exits 0, and leaves the job done or back in retry, never
    // running; nothing more is started.
    const std::int64_t next = reg.push(61, fcdWith(numbersFrom(9177770000, 650)));
    const std::int64_t after = reg.push(61, fcdWith(numbersFrom(9178880000, 3)));
    const std::size_t before = dev->received().size();
    ASSERT_TRUE(waitFor([&] { return dev->received().find("ADN", before) != std::string::npos; }))
        << server->log();
    ASSERT_EQ(::kill(server->pid(), SIGTERM), 0);
    EXPECT_EQ(server->wait(), 0);
    EXPECT_TRUE(server->logHas("\"event\":\"stopped\"")) << server->log();
    EXPECT_EQ(integrity(path), "ok");
    const JobState cut = reg.state(next);
    EXPECT_TRUE(cut == JobState::Done || cut == JobState::Retry) << fleet::stateName(cut);
    EXPECT_EQ(reg.state(after), JobState::Pending);
}

TEST(FleetServeProgram, ConnectionsThatNeverAnnounceThemselvesLeaveTheDevicesServed) {
    TempDir dir;
    const std::string path = dir.filePath("fleet.sqlite");
    Register reg(path);
    {
        // Ten thousand silent connections, within what the server's file
        // limit holds once it raised it from 1024 to the hard limit.
        rlimit ours{};
        ::getrlimit(RLIMIT_NOFILE, &ours);
        ASSERT_GE(ours.rlim_max, 10'200u) << "the machine's hard limit is too low for this test";
        const int port = freeLoopbackPort();
        Serve server(dir, {"--listen", std::to_string(port), "--register", path}, 1024,
                     ours.rlim_max);
        ASSERT_TRUE(waitFor([&] { return server.logHas("соединений не больше"); }));
        EXPECT_TRUE(server.logHas("соединений не больше " +
                                  std::to_string(std::min<rlim_t>(ours.rlim_max, 1'000'000) - 32)))
            << server.log();
        std::vector<int> silent;
        ASSERT_TRUE(waitFor([&] {
            const int fd = connectLoopback(port);
            if (fd >= 0) {
                silent.push_back(fd);
            }
            return fd >= 0;
        }));
        while (silent.size() < 10'000) {
            const int fd = connectLoopback(port);
            ASSERT_GE(fd, 0) << silent.size() << "\n" << server.log();
            silent.push_back(fd);
        }
        auto dev = device(port, 71, 0ms);
        ASSERT_TRUE(waitFor([&] { return reg.reg->latestSnapshot(71).has_value(); }))
            << server.log();
        const std::int64_t job = reg.push(71, fcdWith(numbersFrom(9176660000, 12)));
        ASSERT_TRUE(waitFor([&] { return reg.state(job) == JobState::Done; })) << server.log();
        EXPECT_TRUE(server.alive());
        for (const int fd : silent) {
            ::close(fd);
        }
    }
    {
        // A file limit of 200: past what it leaves, the oldest silent
        // connections are closed to make room, and the device gets in.
        const int port = freeLoopbackPort();
        Serve server(dir, {"--listen", std::to_string(port), "--register", path}, 200, 200);
        std::vector<int> silent;
        ASSERT_TRUE(waitFor([&] { return server.logHas("соединений не больше"); }));
        for (int i = 0; i < 1000; ++i) {
            const int fd = connectLoopback(port);
            if (fd >= 0) {
                silent.push_back(fd);
            }
        }
        auto dev = device(port, 72, 0ms);
        ASSERT_TRUE(waitFor([&] { return reg.reg->latestSnapshot(72).has_value(); }))
            << server.log();
        EXPECT_TRUE(server.alive());
        EXPECT_TRUE(server.logHas("закрываются самые старые без \"CONNECT\"")) << server.log();
        for (const int fd : silent) {
            ::close(fd);
        }
    }
}

} // namespace
