// The device session as a program without a window uses it: a number grid in
// memory, the port's events run on the test's own thread, the ticks given by
// the test, and the simulator program as the device on a pseudo-terminal.
// Nothing on this path touches Qt.
#include "config/config_block.h"
#include "files/number_grid.h"
#include "session/device_session.h"
#include "tests/support/manual_dispatcher.h"
#include "tests/support/recording_view.h"
#include "tests/support/sim_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::string tempPath(const std::string& name) {
    return ::testing::TempDir() + "vxrt7-session-" + std::to_string(::getpid()) + "-" + name;
}

// One device with its own settings and number list, and the session that
// talks to it.
struct Device {
    std::string blockFile;
    std::string numbersFile;
    std::unique_ptr<SimProcess> sim;
    ManualDispatcher dispatcher;
    RecordingView seen;
    MemoryNumberGrid grid;
    std::unique_ptr<DeviceSession> session;
    int ticks = 0;

    Device(const std::string& name, const ConfigBlock& block, int numbers) {
        blockFile = tempPath(name + ".bin");
        numbersFile = tempPath(name + ".txt");
        const auto bytes = block.encode();
        std::ofstream(blockFile, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        std::ofstream list(numbersFile);
        for (int i = 1; i <= numbers; ++i) {
            list << number(name, i) << ';' << i << '\n';
        }
        list.close();
        sim = std::make_unique<SimProcess>(
            std::vector<std::string>{"--password", std::to_string(block.password), "--config",
                                     blockFile, "--numbers", numbersFile});
        session = std::make_unique<DeviceSession>(&dispatcher, grid, seen);
    }
    ~Device() {
        session.reset();
        sim.reset();
        std::remove(blockFile.c_str());
        std::remove(numbersFile.c_str());
    }

    static std::string number(const std::string& name, int i) {
        return std::to_string(9160000000LL + (name == "a" ? 1000 : 2000) + i);
    }

    // 20 ms of the caller's time: the port's events, the 20 ms tick and,
    // every 50th time, the 1 s tick while the session wants it.
    void step() {
        dispatcher.runUntil([] { return false; }, 20);
        if (session->tickNeeded()) {
            session->tick20ms();
        }
        if (++ticks % 50 == 0 && session->portTickNeeded()) {
            session->tick1s();
        }
    }
    bool logged(const std::string& line) const {
        return std::find(seen.log.begin(), seen.log.end(), line) != seen.log.end();
    }
};

// Two sessions in one process, each on its own simulator, driven in turn:
// both link up, read their own configuration and then their own number list
// (more than one packet); one going offline leaves the other linked.
TEST(DeviceSession, TwoSessionsReadTheirDevicesWithoutAWindow) {
    ConfigBlock a;
    a.password = 4321;
    a.relayMode = 3;
    a.pulseMs = 1500;
    a.countryCode = {'+', '3', '7', '5', 0};
    a.deviceNumber = 7;
    ConfigBlock b;
    b.password = 1234;
    b.relayMode = 1;
    b.countryCode = {'+', '7', 0, 0, 0};
    b.deviceNumber = 2;

    Device one("a", a, 30);
    Device two("b", b, 5);
    ASSERT_TRUE(one.sim->ok()) << one.sim->error();
    ASSERT_TRUE(two.sim->ok()) << two.sim->error();

    one.session->choosePort(one.sim->slavePath());
    two.session->choosePort(two.sim->slavePath());
    auto both = [&](const std::function<bool(Device&)>& done, int limit) {
        for (int i = 0; i < limit && !(done(one) && done(two)); ++i) {
            one.step();
            two.step();
        }
        return done(one) && done(two);
    };

    // Linked once the device answered the greeting and the next port tick
    // has seen it: the port tick stops and the link controls come on.
    ASSERT_TRUE(both(
        [](Device& d) { return d.session->state().linkUp && !d.session->portTickNeeded(); }, 300))
        << one.seen.panels[2] << " / " << two.seen.panels[2];
    EXPECT_TRUE(one.session->phase().manualConnect);
    EXPECT_TRUE(one.session->phase().linkHeld);
    EXPECT_EQ(one.seen.panels[1], one.sim->slavePath());

    // A wrong password is the device's to refuse; the session says so.
    two.session->readConfig("1111");
    for (int i = 0; i < 150 && !two.logged("Пароль не верный"); ++i) {
        two.step();
    }
    EXPECT_TRUE(two.logged("Пароль не верный"));
    EXPECT_TRUE(two.seen.configs.empty());

    one.session->readConfig("4321");
    two.session->readConfig("1234");
    ASSERT_TRUE(both([](Device& d) { return d.logged("Чтение номеров завершено"); }, 1000))
        << "numbers read: " << one.session->protocol().nextNumberRow - 1 << " / "
        << two.session->protocol().nextNumberRow - 1;

    ASSERT_EQ(one.seen.configs.size(), 1u);
    ASSERT_EQ(two.seen.configs.size(), 1u);
    EXPECT_EQ(ConfigBlock::decode(one.seen.configs[0]), a);
    EXPECT_EQ(ConfigBlock::decode(two.seen.configs[0]), b);
    for (Device* d : {&one, &two}) {
        const std::string name = d == &one ? "a" : "b";
        const int count = d == &one ? 30 : 5;
        for (int row = 1; row <= count; ++row) {
            ASSERT_EQ(d->grid.cell(NumberGrid::kNumberColumn, row), Device::number(name, row))
                << name << " row " << row;
            ASSERT_EQ(d->grid.cell(NumberGrid::kApartmentColumn, row), std::to_string(row));
        }
        EXPECT_EQ(d->grid.cell(NumberGrid::kNumberColumn, count + 1), "");
        EXPECT_FALSE(d->session->numberListIncomplete());
        EXPECT_TRUE(d->seen.errors.empty());
    }

    // Going offline closes this session's port only.
    one.session->goOffline();
    EXPECT_FALSE(one.session->port().Enabled());
    EXPECT_EQ(one.seen.panels[2], "Автономный режим");
    EXPECT_FALSE(one.session->phase().serialMode);
    EXPECT_TRUE(two.session->port().Enabled());
    EXPECT_TRUE(two.session->state().linkUp);
}

// A firmware update as a program without a window drives it: the session
// enters the bootloader by name, and the phase it reports says at each step
// what the user could do next (open an image once the bootloader answered,
// program one that is held), until the device runs its new firmware and the
// session is back on the serial link.
TEST(DeviceSession, AFirmwareUpdateWithoutAWindowFollowsTheLinkPhase) {
    Device d("a", ConfigBlock{}, 0);
    ASSERT_TRUE(d.sim->ok()) << d.sim->error();
    const auto until = [&](const std::function<bool()>& done, int limit) {
        for (int i = 0; i < limit && !done(); ++i) {
            d.step();
        }
        return done();
    };
    d.session->choosePort(d.sim->slavePath());
    ASSERT_TRUE(
        until([&] { return d.session->state().linkUp && !d.session->portTickNeeded(); }, 300))
        << d.seen.panels[2];
    EXPECT_TRUE(d.seen.phase.serialMode);
    EXPECT_FALSE(d.seen.phase.bootloaderReady);

    d.session->enterBootloader();
    EXPECT_TRUE(d.session->state().bootloaderMode);
    EXPECT_FALSE(d.session->portTickNeeded()) << "the line is the bootloader's";
    d.session->restartDevice();
    ASSERT_TRUE(until([&] { return d.seen.phase.bootloaderReady; }, 500)) << d.seen.panels[2];
    EXPECT_FALSE(d.seen.phase.imageReady);

    const std::string image = tempPath("fw.bin");
    std::ofstream(image, std::ios::binary) << "VXRT\x07" << std::string(300, '\x5A');
    d.session->openFirmware(image);
    std::remove(image.c_str());
    EXPECT_TRUE(d.seen.phase.imageReady);
    EXPECT_EQ(d.session->phase().imageReady, d.seen.phase.imageReady);

    d.session->programFirmware();
    EXPECT_FALSE(d.seen.phase.imageReady) << "nothing to start while programming";
    EXPECT_FALSE(d.seen.phase.bootloaderReady) << "no other image while programming";
    ASSERT_TRUE(until([&] { return d.logged("Программирование завершено"); }, 1000))
        << "progress " << d.seen.progress;
    EXPECT_FALSE(d.session->state().bootloaderMode);
    EXPECT_FALSE(d.seen.phase.imageReady);
    EXPECT_FALSE(d.seen.phase.bootloaderReady);
    EXPECT_TRUE(d.session->portTickNeeded()) << "the new firmware is greeted again";
    EXPECT_TRUE(d.seen.errors.empty());

    // The user is back at the first page: the line stays the device's.
    d.session->leaveBootloader();
    ASSERT_TRUE(until([&] { return d.session->state().linkUp; }, 300)) << d.seen.panels[2];
    EXPECT_TRUE(d.seen.phase.serialMode);
}

} // namespace
