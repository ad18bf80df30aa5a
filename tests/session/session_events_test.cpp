// A session with no window at all, driven through a whole visit to a device
// (the simulator on a pseudo-terminal): link, configuration read and its
// backup, a write of all 650 numbers, a firmware update and the greeting of
// the new firmware. What the session says is checked as the sequence of its
// typed events, not as texts.
#include "config/config_block.h"
#include "files/number_grid.h"
#include "session/device_session.h"
#include "tests/support/full_number_list.h"
#include "tests/support/manual_dispatcher.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The names of the events in SessionEvent's order, for the sequences below.
const char* const kNames[] = {
    "PortOpened",
    "PortNotOpened",
    "PortLost",
    "PortFailed",
    "Linked",
    "Searching",
    "LinkShown",
    "Offline",
    "InternetChosen",
    "InternetWaiting",
    "ReplyTimedOut",
    "DiagnosticText",
    "Refused",
    "BadServerPort",
    "BadPassword",
    "CommandNotEncoded",
    "CommandNotBuilt",
    "CommandPartlySent",
    "StoredBaudRefused",
    "StoredServerPortRefused",
    "Started",
    "DeviceSaid",
    "WrongPassword",
    "PasswordChanged",
    "ApnSent",
    "ConfigRead",
    "ConfigWritten",
    "NumberListEnded",
    "DeviceRead",
    "NumberReadCut",
    "BadPackets",
    "PacketTooLong",
    "NumbersOutsideList",
    "KeyListed",
    "BackupKept",
    "BackupFailed",
    "ListNotWritable",
    "NumberSent",
    "FreeingRest",
    "NumbersWritten",
    "ChangesWritten",
    "ChangesNotHeld",
    "NumberRefused",
    "NumberWriteStopped",
    "AwaitingBootloader",
    "BootloaderReady",
    "BootloaderSilent",
    "FirmwareFileUnreadable",
    "FirmwareFileInvalid",
    "FirmwareProgress",
    "FirmwareDone",
    "FirmwareFailed",
    "FirmwareRejected",
    "FirmwareImage",
    "ServerStarted",
    "ServerStopped",
    "ServerPortRefused",
    "ServerModuleMissing",
    "ServerListenFailed",
    "ServerSocketError",
    "AcceptPaused",
    "AcceptResumed",
    "NoDeviceOnServer",
    "InternetClient",
    "ClientRefused",
    "RefusalsCounted",
    "ConnectionsCapped",
    "DeviceConnected",
    "DeviceReplaced",
    "PacketCut",
    "PacketTimedOut",
};
static_assert(std::size(kNames) == std::variant_size_v<SessionEvent>);

using Names = std::vector<std::string>;

struct EventLog : SessionObserver {
    std::vector<SessionEvent> seen;
    void event(const SessionEvent& e) override { seen.push_back(e); }

    // The names of the events from `from` on; a run of NumberSent (or of
    // FirmwareProgress) is one entry with its count.
    Names names(std::size_t from) const {
        Names out;
        std::string run;
        int count = 0;
        for (std::size_t i = from; i < seen.size(); ++i) {
            const std::string name = kNames[seen[i].index()];
            if (name == run) {
                ++count;
                out.back() = name + " x" + std::to_string(count);
                continue;
            }
            run = name;
            count = 1;
            out.push_back(name);
        }
        return out;
    }
    template <typename E> std::vector<E> all(std::size_t from = 0) const {
        std::vector<E> out;
        for (std::size_t i = from; i < seen.size(); ++i) {
            if (const auto* e = std::get_if<E>(&seen[i])) {
                out.push_back(*e);
            }
        }
        return out;
    }
};

std::string joined(const Names& names) {
    std::ostringstream out;
    for (const std::string& n : names) {
        out << n << "; ";
    }
    return out.str();
}

struct Visit {
    TempDir dir;
    std::unique_ptr<SimProcess> sim;
    ManualDispatcher dispatcher;
    EventLog log;
    MemoryNumberGrid grid;
    std::unique_ptr<DeviceSession> session;
    int ticks = 0;

    explicit Visit(const ConfigBlock& block) {
        const std::string blockFile = dir.path() + "/block.bin";
        const auto bytes = block.encode();
        std::ofstream(blockFile, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        std::ofstream(dir.path() + "/numbers.txt") << "9160000001;1\n9160000002;2\n";
        sim = std::make_unique<SimProcess>(std::vector<std::string>{
            "--config", blockFile, "--numbers", dir.path() + "/numbers.txt", "--loader-version",
            "4", "--fw-version", "31"});
        session = std::make_unique<DeviceSession>(&dispatcher, grid, log);
        session->setFastExchange(true);
    }
    ~Visit() { session.reset(); }

    // Runs the port's events and the ticks until `done` holds; false after
    // `limit` rounds of 20 ms of the caller's time.
    bool until(const std::function<bool()>& done, int limit) {
        for (int i = 0; i < limit && !done(); ++i) {
            dispatcher.runUntil(done, 20);
            if (session->tickNeeded()) {
                session->tick20ms();
            }
            if (++ticks % 50 == 0 && session->portTickNeeded()) {
                session->tick1s();
            }
        }
        return done();
    }
    template <typename E> bool seen(std::size_t from) const { return !log.all<E>(from).empty(); }
};

TEST(SessionEvents, ReadWriteAllNumbersAndUpdateFirmwareWithoutAWindow) {
    ConfigBlock block;
    block.password = 1234;
    block.relayMode = 2;
    block.deviceNumber = 12;
    Visit v(block);
    ASSERT_TRUE(v.sim->ok()) << v.sim->error();

    // The link: the port opens, the greeting goes out and the device answers.
    v.session->choosePort(v.sim->slavePath());
    ASSERT_TRUE(v.until([&] { return v.seen<events::Linked>(0); }, 300)) << joined(v.log.names(0));
    EXPECT_EQ(v.log.names(0), (Names{"PortOpened", "Searching", "Linked"}));
    const auto linked = v.log.all<events::Linked>().front();
    EXPECT_EQ(linked.via, events::Via::Serial);
    EXPECT_EQ(linked.deviceName, "\"Велиран\"");
    EXPECT_EQ(linked.firmwareVersion, 31);
    ASSERT_TRUE(v.until([&] { return !v.session->portTickNeeded(); }, 100));

    // The configuration read, the number read it starts, and the backup of
    // the whole device.
    std::size_t from = v.log.seen.size();
    v.session->readConfig("1234");
    ASSERT_TRUE(v.until([&] { return v.seen<events::DeviceRead>(from); }, 500))
        << joined(v.log.names(from));
    EXPECT_EQ(v.log.names(from), (Names{"Started", "ConfigRead", "BadPackets", "Started",
                                        "NumberListEnded", "DeviceRead"}));
    const auto started = v.log.all<events::Started>(from);
    ASSERT_EQ(started.size(), 2u);
    EXPECT_EQ(started[0].op, events::Operation::ConfigRead);
    EXPECT_EQ(started[1].op, events::Operation::NumberRead);
    EXPECT_EQ(ConfigBlock::decode(v.log.all<events::DeviceRead>(from).front().block), block);
    EXPECT_EQ(v.session->numbersRead(), 2);
    EXPECT_FALSE(v.session->numberReadPending());

    from = v.log.seen.size();
    const std::string backups = v.dir.path() + "/backups";
    const std::optional<std::string> backup = v.session->keepBackup(backups);
    ASSERT_TRUE(backup.has_value()) << joined(v.log.names(from));
    EXPECT_EQ(v.log.names(from), Names{"BackupKept"});
    EXPECT_EQ(v.log.all<events::BackupKept>(from).front().path, *backup);
    EXPECT_EQ(std::filesystem::path(*backup).parent_path(), backups);
    EXPECT_TRUE(std::filesystem::is_regular_file(*backup));

    // All 650 rows: the block, then every number in row order, then the
    // device frees the cells behind the list.
    v.grid = fullNumberList();
    from = v.log.seen.size();
    ConfigBlock written = block;
    written.relayMode = 1;
    v.session->writeConfig("1234", [&] { return std::optional(written.encode()); });
    ASSERT_TRUE(v.until([&] { return v.seen<events::NumbersWritten>(from); }, 3000))
        << joined(v.log.names(from));
    EXPECT_EQ(v.log.names(from), (Names{"Started", "ConfigWritten", "Started", "NumberSent x650",
                                        "FreeingRest", "NumbersWritten"}));
    const auto sent = v.log.all<events::NumberSent>(from);
    for (std::size_t i = 0; i < sent.size(); ++i) {
        ASSERT_EQ(sent[i].row, static_cast<int>(i) + 1);
    }
    EXPECT_EQ(v.log.all<events::NumbersWritten>(from).front().count, 650);
    EXPECT_EQ(v.session->numbersConfirmed(), 650);
    EXPECT_FALSE(v.session->writeUnderWay());

    // The firmware: the device restarts into its bootloader, takes the
    // image block by block and greets again with its firmware.
    const std::string image = v.dir.path() + "/fw.bin";
    std::ofstream(image, std::ios::binary) << "VXRT\x09" << std::string(1000, '\x5A');
    from = v.log.seen.size();
    v.session->enterBootloader();
    v.session->restartDevice();
    ASSERT_TRUE(v.until([&] { return v.seen<events::BootloaderReady>(from); }, 500))
        << joined(v.log.names(from));
    EXPECT_EQ(v.log.all<events::BootloaderReady>(from).front().version, 4);
    EXPECT_FALSE(v.session->holdsFirmwareImage());
    v.session->openFirmware(image);
    ASSERT_TRUE(v.session->holdsFirmwareImage());
    v.session->programFirmware();
    ASSERT_TRUE(v.until([&] { return v.seen<events::FirmwareDone>(from); }, 1000))
        << joined(v.log.names(from));
    EXPECT_EQ(v.session->firmwareBlocksSent(), 8u);
    EXPECT_FALSE(v.session->holdsFirmwareImage()); // the image is let go
    const auto progress = v.log.all<events::FirmwareProgress>(from);
    ASSERT_EQ(progress.size(), 8u); // 1000 bytes: eight blocks of 128
    for (std::size_t i = 0; i < progress.size(); ++i) {
        EXPECT_EQ(progress[i].blocks, i + 1);
        EXPECT_EQ(progress[i].of, 8u);
    }
    EXPECT_EQ(progress.back().percent, 1000);
    ASSERT_TRUE(v.until([&] { return v.seen<events::Linked>(from); }, 300))
        << joined(v.log.names(from));
    const Names names = v.log.names(from);
    const Names expected{"AwaitingBootloader",  "BootloaderReady", "FirmwareImage", "Started",
                         "FirmwareProgress x8", "FirmwareDone",    "FirmwareImage"};
    ASSERT_GE(names.size(), expected.size() + 1) << joined(names);
    EXPECT_EQ(Names(names.begin(), names.begin() + expected.size()), expected) << joined(names);
    EXPECT_EQ(names.back(), "Linked") << joined(names);
    // The page shows the image held, then none once it is programmed.
    const auto images = v.log.all<events::FirmwareImage>(from);
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[0].path, image);
    EXPECT_EQ(images[0].version, std::optional<std::uint8_t>(9));
    EXPECT_EQ(images[1].path, "");
    EXPECT_FALSE(images[1].version.has_value());
    EXPECT_TRUE(v.log.all<events::Refused>().empty());
    EXPECT_TRUE(v.log.all<events::PortFailed>().empty());
}

} // namespace
