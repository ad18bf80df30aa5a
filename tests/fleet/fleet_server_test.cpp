// The fleet server over loopback against the simulator's GPRS devices: the
// announcement, identification by several passwords, an unknown device, a
// conflict of two connections with one device number, each job kind end to
// end, a drop in the middle of a write and its retry, clients that are no
// device. The server runs in the test's thread (step()); the devices are
// SimRunners on their own threads, each on its own TCP connection, and jobs
// are queued through a register connection of their own, as `vxrt7-cli fleet`
// queues them.
#include "config/config_block.h"
#include "files/config_file.h"
#include "files/number_grid.h"
#include "fleet/fleet_server.h"
#include "sim/sim_runner.h"
#include "tests/support/loopback_port.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using fleet::FleetEvent;
using fleet::JobState;

std::vector<sim::NumberEntry> numbersFrom(long long first, int count) {
    std::vector<sim::NumberEntry> out;
    for (int i = 0; i < count; ++i) {
        out.push_back({std::to_string(first + i), static_cast<std::uint16_t>(i + 1)});
    }
    return out;
}

// A device of the fleet: its number, password and list; it connects again
// 100 ms after its connection ended, as a GPRS device redials.
std::unique_ptr<sim::SimRunner> device(int port, unsigned number, std::uint16_t password,
                                       std::vector<sim::NumberEntry> numbers = {},
                                       sim::Faults faults = {}) {
    sim::SimRunner::Options o;
    o.state.configBlock[58] = static_cast<std::uint8_t>(number & 0xFF);
    o.state.configBlock[59] = static_cast<std::uint8_t>(number >> 8);
    o.state.setPassword(password);
    o.state.numbers = std::move(numbers);
    o.faults = faults;
    o.tcp = sim::TcpTarget{"127.0.0.1", static_cast<unsigned>(port)};
    o.retry = 100ms;
    auto runner = std::make_unique<sim::SimRunner>(std::move(o));
    runner->start();
    return runner;
}

// A .fcd file: settings that differ from the factory's and the given list.
std::string fcdFile(unsigned fileDeviceNumber, std::uint16_t filePassword,
                    const std::vector<sim::NumberEntry>& numbers) {
    ConfigBlock block;
    block.deviceNumber = static_cast<std::uint16_t>(fileDeviceNumber);
    block.password = filePassword;
    block.pulseMs = 700;
    block.pauseMs = 300;
    block.repetitions = 3;
    MemoryNumberGrid grid;
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        const int row = static_cast<int>(i) + 1;
        grid.setCell(NumberGrid::kNumberColumn, row, numbers[i].number);
        grid.setCell(NumberGrid::kApartmentColumn, row, std::to_string(numbers[i].apartment));
    }
    const config_file::Encoded file = config_file::encode(block.encode(), grid);
    EXPECT_TRUE(file.ok());
    return file.bytes;
}

std::uint16_t numberOf(const sim::DeviceState& state) {
    return static_cast<std::uint16_t>(state.configBlock[58] | (state.configBlock[59] << 8));
}

struct Fleet {
    TempDir dir;
    std::string path = dir.filePath("fleet.sqlite");
    std::unique_ptr<fleet::FleetRegister> reg;
    std::unique_ptr<fleet::FleetRegister> queue; // as `vxrt7-cli fleet` holds it
    std::vector<FleetEvent> log;
    std::unique_ptr<fleet::FleetServer> server;

    explicit Fleet(fleet::ServerOptions options = {}) {
        std::string error;
        reg = fleet::FleetRegister::open(path, &error);
        queue = fleet::FleetRegister::open(path, &error);
        EXPECT_TRUE(reg && queue) << error;
        options.port = 0;
        options.listenAddress = "127.0.0.1";
        options.backupFolder = dir.filePath("backups");
        server = std::make_unique<fleet::FleetServer>(
            options, *reg, [this](const FleetEvent& e) { log.push_back(e); });
        EXPECT_TRUE(server->listen(&error)) << error;
    }
    ~Fleet() { server->shutDown(); }

    int port() const { return server->port(); }

    // Serves until `done` holds, at most `limit`.
    bool until(const std::function<bool()>& done, std::chrono::seconds limit = 60s) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            if (std::chrono::steady_clock::now() > end) {
                return false;
            }
            server->step(20);
        }
        // What the server wrote so far is in the register for the checks.
        server->flushRegister();
        return true;
    }
    int count(FleetEvent::Kind kind, unsigned device = 0) const {
        return static_cast<int>(std::count_if(log.begin(), log.end(), [&](const FleetEvent& e) {
            return e.kind == kind && (device == 0 || e.device == device);
        }));
    }
    // The log lines of one kind, for a failure's message.
    std::string messages(FleetEvent::Kind kind) const {
        std::string out;
        for (const FleetEvent& e : log) {
            out += e.kind == kind ? e.message + "\n" : "";
        }
        return out;
    }
    std::string all() const {
        std::string out;
        for (const FleetEvent& e : log) {
            out += std::string(fleet::eventName(e.kind)) + ": " + e.message + "\n";
        }
        return out;
    }
    std::int64_t push(unsigned device, const std::string& file) {
        fleet::JobRequest request;
        request.kind = fleet::JobKind::Push;
        request.file = file;
        return queue->queue({device}, request, 1)[0];
    }
    std::int64_t numberJob(fleet::JobKind kind, unsigned device, const std::string& number,
                           const std::string& apartment = {}) {
        fleet::JobRequest request;
        request.kind = kind;
        request.number = number;
        request.apartment = apartment;
        return queue->queue({device}, request, 1)[0];
    }
    JobState state(std::int64_t job) { return queue->job(job)->state; }
    bool finished(std::int64_t job) {
        const JobState s = state(job);
        return s == JobState::Done || s == JobState::Failed;
    }
};

TEST(FleetServe, IdentifiesByEachPasswordInTurnRecordsTheUnknownAndRunsEveryJobKind) {
    fleet::ServerOptions options;
    options.passwords = {4321, 5555};
    Fleet f(options);
    // A device that none of the passwords opens is recorded by its address.
    auto stranger = device(f.port(), 23, 7777, numbersFrom(9163330000, 2));
    ASSERT_TRUE(f.until([&] { return f.count(FleetEvent::Kind::Unknown) == 1; }));
    ASSERT_EQ(f.queue->unknownDevices().size(), 1u);
    EXPECT_EQ(f.queue->unknownDevices()[0].address, "127.0.0.1");
    auto first = device(f.port(), 21, 4321, numbersFrom(9161110000, 30));
    auto second = device(f.port(), 22, 5555, numbersFrom(9162220000, 3));
    ASSERT_TRUE(f.until([&] {
        return f.count(FleetEvent::Kind::Snapshot) == 2 && f.count(FleetEvent::Kind::Unknown) == 1;
    })) << f.messages(FleetEvent::Kind::Note);

    // Each device is known by the number in its block, with the password
    // that opened it; the stranger by its address only.
    ASSERT_TRUE(f.queue->device(21));
    EXPECT_EQ(f.queue->device(21)->password, 4321);
    EXPECT_EQ(f.queue->device(21)->numbers, 30);
    EXPECT_EQ(f.queue->device(22)->password, 5555);
    EXPECT_FALSE(f.queue->device(23));
    // The passwords were tried in turn: the stranger was asked with each of
    // 4321, 5555 and the factory's 1234 once, and with nothing else.
    auto count = [](const std::string& text, const std::string& word) {
        int n = 0;
        for (auto at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
            ++n;
        }
        return n;
    };
    EXPECT_EQ(count(stranger->received(), "CONFR"), 3);
    EXPECT_EQ(stranger->received().size(), 3u * 7u);
    ASSERT_TRUE(f.queue->latestSnapshot(22));
    EXPECT_EQ(f.queue->latestSnapshot(22)->contents.rows[2][0], "9162220002");

    // Jobs queued while the devices are connected are picked up; the
    // stranger is sent nothing but the reads that tried the passwords.
    const std::vector<sim::NumberEntry> pushed = numbersFrom(9170000000, 25);
    const std::int64_t push = f.push(21, fcdFile(99, 1111, pushed));
    const std::int64_t add = f.numberJob(fleet::JobKind::Add, 22, "9169990000", "77");
    const std::int64_t remove = f.numberJob(fleet::JobKind::Remove, 22, "9162220001");
    ASSERT_TRUE(f.until([&] { return f.finished(push) && f.finished(add) && f.finished(remove); }))
        << f.all();
    EXPECT_EQ(f.state(push), JobState::Done) << f.queue->job(push)->error;
    EXPECT_EQ(f.state(add), JobState::Done) << f.queue->job(add)->error;
    EXPECT_EQ(f.state(remove), JobState::Done) << f.queue->job(remove)->error;

    // The push wrote the file's settings and list, but the device keeps its
    // own number and password.
    const sim::DeviceState one = first->snapshot();
    EXPECT_EQ(one.numbers, pushed);
    EXPECT_EQ(numberOf(one), 21);
    EXPECT_EQ(one.password(), 4321);
    EXPECT_EQ(ConfigBlock::decode(one.configBlock).pulseMs, 700u);
    EXPECT_EQ(ConfigBlock::decode(one.configBlock).repetitions, 3);
    // Add appended after the entries, remove took one out: the others in order.
    const std::vector<sim::NumberEntry> expected = {
        {"9162220000", 1}, {"9162220002", 3}, {"9169990000", 77}};
    EXPECT_EQ(second->snapshot().numbers, expected);
    EXPECT_EQ(stranger->snapshot().numbers, numbersFrom(9163330000, 2));
    EXPECT_EQ(stranger->received().find("CONFW"), std::string::npos);
    EXPECT_EQ(stranger->received().find("READ"), std::string::npos);
    // Every change written is in the audit log, with its job.
    const fleet::History history = f.queue->history(22);
    EXPECT_GE(history.audit.size(), 2u);
    EXPECT_EQ(history.jobs.size(), 2u);
    // The reads after the writes are snapshots too: the latest is the truth.
    EXPECT_EQ(f.queue->latestSnapshot(21)->contents.rows[24][0], "9170000024");
}

TEST(FleetServe, ADropMidWriteLeavesTheJobInRetryAndTheNextConnectionRunsItFromTheStart) {
    Fleet f;
    sim::Faults once;
    once.dropAfterBatches = 2; // in the middle of the 5 batches of 45 numbers
    once.drops = 1;
    sim::Faults always = once;
    always.drops = 0;
    auto dropsOnce = device(f.port(), 41, 1234, numbersFrom(9161110000, 5), once);
    auto dropsAlways = device(f.port(), 42, 1234, numbersFrom(9162220000, 5), always);
    ASSERT_TRUE(f.until([&] { return f.count(FleetEvent::Kind::Snapshot) >= 2; }));
    const std::vector<sim::NumberEntry> file = numbersFrom(9175550000, 45);
    const std::int64_t healed = f.push(41, fcdFile(41, 1234, file));
    const std::int64_t doomed = f.push(42, fcdFile(42, 1234, file));

    ASSERT_TRUE(f.until([&] { return f.count(FleetEvent::Kind::JobRetry, 41) == 1; }));
    // The drop left the job in retry, with its try counted and the cause kept.
    EXPECT_EQ(f.state(healed), JobState::Retry);
    EXPECT_EQ(f.queue->job(healed)->tries, 1);
    EXPECT_FALSE(f.queue->job(healed)->error.empty());
    // What the cut write changed on the device is in the audit log already.
    const fleet::History cut = f.queue->history(41);
    ASSERT_FALSE(cut.audit.empty());
    EXPECT_EQ(cut.audit.front().job, healed);
    EXPECT_TRUE(std::any_of(cut.audit.begin(), cut.audit.end(), [](const fleet::AuditEntry& a) {
        return a.change.find("9175550000") != std::string::npos;
    }));

    ASSERT_TRUE(f.until([&] { return f.finished(healed) && f.finished(doomed); }, 120s));
    EXPECT_EQ(f.state(healed), JobState::Done) << f.queue->job(healed)->error;
    EXPECT_EQ(f.queue->job(healed)->tries, 2);
    EXPECT_EQ(dropsOnce->snapshot().numbers, file);
    // A device that drops every time: five tries, then the job has failed.
    EXPECT_EQ(f.state(doomed), JobState::Failed);
    EXPECT_EQ(f.queue->job(doomed)->tries, fleet::kMaxTries);
    EXPECT_EQ(f.count(FleetEvent::Kind::JobRetry, 42), fleet::kMaxTries - 1);
    EXPECT_EQ(f.count(FleetEvent::Kind::JobStarted, 42), fleet::kMaxTries);
}

TEST(FleetServe, TwoConnectionsWithOneDeviceNumberAreAConflictAndNeitherGetsAJob) {
    Fleet f;
    auto a = device(f.port(), 31, 1234, numbersFrom(9161110000, 4));
    auto b = device(f.port(), 31, 1234, numbersFrom(9162220000, 6));
    ASSERT_TRUE(f.until([&] {
        return f.count(FleetEvent::Kind::Snapshot, 31) == 2 &&
               f.count(FleetEvent::Kind::Conflict, 31) == 1;
    }));
    ASSERT_TRUE(f.queue->device(31));
    EXPECT_TRUE(f.queue->device(31)->conflict);

    const std::int64_t job = f.numberJob(fleet::JobKind::Add, 31, "9169990000", "1");
    // The server looks for jobs once a second: three looks leave it pending.
    const std::int64_t looks = f.server->jobLooks();
    ASSERT_TRUE(f.until([&] { return f.server->jobLooks() >= looks + 3; }));
    EXPECT_EQ(f.state(job), JobState::Pending);
    EXPECT_EQ(a->received().find("CONFW"), std::string::npos);
    EXPECT_EQ(b->received().find("CONFW"), std::string::npos);
    EXPECT_EQ(a->snapshot().numbers.size(), 4u);
    EXPECT_EQ(b->snapshot().numbers.size(), 6u);

    // One of them goes: the other, alone at its next connection, is served.
    b->stop();
    a->stop();
    auto alone = device(f.port(), 31, 1234, numbersFrom(9161110000, 4));
    ASSERT_TRUE(f.until([&] { return f.finished(job); }));
    EXPECT_EQ(f.state(job), JobState::Done);
    EXPECT_FALSE(f.queue->device(31)->conflict);
    EXPECT_EQ(alone->snapshot().numbers.size(), 5u);
}

TEST(FleetServe, ClientsThatAreNoDeviceAreClosedWhileTheDevicesAreServed) {
    fleet::ServerOptions options;
    options.announceTimeoutMs = 1500;
    Fleet f(options);
    std::vector<int> strangers;
    for (int i = 0; i < 40; ++i) {
        strangers.push_back(connectLoopback(f.port()));
        ASSERT_GE(strangers.back(), 0);
    }
    const std::string http = "GET / HTTP/1.1\r\nHost: x\r\n\r\n";
    ASSERT_EQ(::send(strangers[0], http.data(), http.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(http.size()));
    std::string garbage(3000, '\0');
    for (std::size_t i = 0; i < garbage.size(); ++i) {
        garbage[i] = static_cast<char>((i * 7919) % 251);
    }
    ASSERT_EQ(::send(strangers[1], garbage.data(), garbage.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(garbage.size()));
    auto real = device(f.port(), 51, 1234, numbersFrom(9161110000, 3));
    ASSERT_TRUE(f.until([&] { return f.count(FleetEvent::Kind::Snapshot, 51) == 1; }));
    const std::int64_t job = f.numberJob(fleet::JobKind::Add, 51, "9169990000", "9");
    ASSERT_TRUE(f.until([&] { return f.finished(job) && f.server->connections() == 1; }));
    EXPECT_EQ(f.state(job), JobState::Done);
    EXPECT_EQ(real->snapshot().numbers.size(), 4u);
    // None of the strangers was sent a byte (no password went out to them).
    for (const int fd : strangers) {
        // Closed without a word: the end of the stream, or a reset where the
        // server left what the client sent unread.
        char byte = 0;
        const ssize_t n = ::recv(fd, &byte, 1, MSG_DONTWAIT);
        EXPECT_TRUE(n == 0 || (n < 0 && errno == ECONNRESET)) << n << " " << errno;
        ::close(fd);
    }
    EXPECT_EQ(f.count(FleetEvent::Kind::Unknown), 0);
}

} // namespace

namespace {

TEST(FleetServe, DevicesPastTheMostServedAtOnceAreRefusedAndTheOthersServed) {
    fleet::ServerOptions options;
    options.maxDevices = 2;
    Fleet f(options);
    auto a = device(f.port(), 61, 1234);
    auto b = device(f.port(), 62, 1234);
    ASSERT_TRUE(f.until([&] { return f.count(FleetEvent::Kind::Snapshot) == 2; }));
    auto c = device(f.port(), 63, 1234);
    ASSERT_TRUE(f.until([&] { return f.count(FleetEvent::Kind::Refused) >= 1; }));
    EXPECT_EQ(f.server->devices(), 2);
    EXPECT_FALSE(f.queue->device(63));
    EXPECT_EQ(c->received(), "") << "a device refused is sent nothing";
    // One goes: the third, dialling again, takes its place.
    a->stop();
    ASSERT_TRUE(f.until([&] { return f.queue->device(63).has_value(); }));
    EXPECT_EQ(f.server->devices(), 2);
}

} // namespace
