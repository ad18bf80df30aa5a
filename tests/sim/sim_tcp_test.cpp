// The simulator in TCP mode: it connects to a listening socket on 127.0.0.1
// as a GPRS device connects to the configurator's server, announces itself and
// serves the Internet forms of the commands.
#include "raw_tty.h"
#include "sim/sim_runner.h"
#include "tcp_peer.h"
#include "tests/support/sim_process.h"
#include "wire_helpers.h"

#include <gtest/gtest.h>

#include <set>

using namespace simtest;

namespace {

sim::SimRunner::Options tcpOptions(const TcpListener& server, sim::DeviceState state = {}) {
    sim::SimRunner::Options options;
    options.state = std::move(state);
    options.tcp = sim::TcpTarget{"127.0.0.1", server.port()};
    return options;
}

TEST(SimTcp, ConnectsAndAnnouncesItself) {
    TcpListener server;
    ASSERT_TRUE(server.ok());
    sim::SimRunner runner(tcpOptions(server));
    runner.start();
    EXPECT_EQ(runner.slavePath(), "");
    TcpConnection device = server.accept();
    ASSERT_TRUE(device.ok());
    EXPECT_EQ(device.read(7), "CONNECT");
    EXPECT_EQ(device.readFor(100ms), "");
    EXPECT_TRUE(runner.waitConnections(1, 5s));
    EXPECT_TRUE(runner.running());
}

TEST(SimTcp, ReadsTheListInBarePacketsWithTheHandshake) {
    TcpListener server;
    const auto numbers = sampleNumbers(50);
    sim::SimRunner runner(tcpOptions(server, stateWith(numbers)));
    runner.start();
    TcpConnection device = server.accept();
    ASSERT_EQ(device.read(7), "CONNECT");

    ASSERT_TRUE(device.write("READ"));
    std::vector<sim::NumberEntry> got;
    for (const std::size_t size : {254u, 254u, 12u * 8 + 2}) {
        const Packet p = decodePacket(device.read(size));
        EXPECT_EQ(p.kind, size == 254u ? 'R' : 'E');
        EXPECT_TRUE(p.endMark);
        got.insert(got.end(), p.records.begin(), p.records.end());
        EXPECT_EQ(device.readFor(50ms), "") << "the next packet waits for R_OK";
        ASSERT_TRUE(device.write("R_OK\r"));
    }
    EXPECT_EQ(got, numbers);
    EXPECT_EQ(device.readFor(100ms), "");
    // Every packet left in a write of its own.
    const auto writes = runner.sentWrites();
    ASSERT_EQ(writes.size(), 4u);
    EXPECT_EQ(writes[1].size(), 254u);
    EXPECT_EQ(writes[3].size(), 98u);
}

TEST(SimTcp, ErasesAndStoresBatchesAnsweringEachWithAdd) {
    TcpListener server;
    sim::SimRunner runner(tcpOptions(server, stateWith(sampleNumbers(5))));
    runner.start();
    TcpConnection device = server.accept();
    ASSERT_EQ(device.read(7), "CONNECT");

    ASSERT_TRUE(device.write("ERASE"));
    EXPECT_EQ(device.read(5), "ERASE");
    std::vector<std::string> records;
    std::vector<sim::NumberEntry> expected;
    for (int i = 0; i < 13; ++i) {
        expected.push_back({std::to_string(5'550'000 + i), static_cast<std::uint16_t>(i)});
        records.push_back(record(expected.back().number, expected.back().apartment));
    }
    ASSERT_TRUE(device.write(batch({records.begin(), records.begin() + 10})));
    EXPECT_EQ(device.read(3), "ADD");
    ASSERT_TRUE(device.write(batch({records.begin() + 10, records.end()})));
    EXPECT_EQ(device.read(3), "ADD");

    std::vector<sim::NumberEntry> stored;
    for (const auto& [cell, entry] : runner.snapshot().storedNumbers()) {
        stored.push_back(entry);
    }
    EXPECT_EQ(stored, expected);
}

TEST(SimTcp, ConfigurationAndPasswordOverTheConnection) {
    TcpListener server;
    sim::SimRunner runner(tcpOptions(server));
    runner.start();
    TcpConnection device = server.accept();
    ASSERT_EQ(device.read(7), "CONNECT");

    ASSERT_TRUE(device.write("CONFR" + passwordBytes(1234)));
    const std::string reply = device.read(73);
    ASSERT_EQ(reply.size(), 73u);
    auto block = sim::factoryConfigBlock();
    block[2] = 0xFF;
    ASSERT_TRUE(device.write("CONFW" + blockBytes(block)));
    EXPECT_EQ(device.read(5), "CONFW");
    ASSERT_TRUE(device.write("CHPASS 1234 4321\x1A\r"));
    EXPECT_EQ(device.read(6), "CHPASS");
    ASSERT_TRUE(device.write("CONFR" + passwordBytes(1234)));
    EXPECT_EQ(device.read(8), "Not corr");
    const auto state = runner.snapshot();
    EXPECT_EQ(state.password(), 4321);
    EXPECT_EQ(state.configBlock[2], 0xFF);
}

TEST(SimTcp, ClosedEndsTheConnectionAndTheRunner) {
    TcpListener server;
    sim::SimRunner runner(tcpOptions(server));
    runner.start();
    TcpConnection device = server.accept();
    ASSERT_EQ(device.read(7), "CONNECT");
    ASSERT_TRUE(device.write("CLOSED"));
    EXPECT_TRUE(device.waitPeerClosed());
    EXPECT_TRUE(runner.waitEnded(5s));
    EXPECT_EQ(runner.failure(), "") << "the configurator ended the link: no failure";
}

TEST(SimTcp, ServerGoingAwayEndsTheRunnerOrWithRetryItConnectsAgain) {
    {
        TcpListener server;
        sim::SimRunner runner(tcpOptions(server));
        runner.start();
        TcpConnection device = server.accept();
        ASSERT_EQ(device.read(7), "CONNECT");
        device.close();
        EXPECT_TRUE(runner.waitEnded(5s));
        EXPECT_EQ(runner.failure(), "");
    }
    TcpListener server;
    auto options = tcpOptions(server);
    options.retry = 20ms;
    sim::SimRunner runner(options);
    runner.start();
    {
        TcpConnection first = server.accept();
        ASSERT_EQ(first.read(7), "CONNECT");
        ASSERT_TRUE(first.write("CLOSED"));
        EXPECT_TRUE(first.waitPeerClosed());
    }
    TcpConnection second = server.accept();
    ASSERT_TRUE(second.ok());
    EXPECT_EQ(second.read(7), "CONNECT");
    EXPECT_TRUE(runner.running());
    EXPECT_EQ(runner.connections(), 2);
}

TEST(SimTcp, NoServerIsAFailureWithoutRetry) {
    unsigned port;
    {
        TcpListener gone;
        port = gone.port();
    }
    sim::SimRunner::Options options;
    options.tcp = sim::TcpTarget{"127.0.0.1", port};
    sim::SimRunner runner(options);
    runner.start();
    EXPECT_TRUE(runner.waitEnded(5s));
    EXPECT_NE(runner.failure(), "");
    EXPECT_EQ(runner.connections(), 0);
}

TEST(SimTcp, SaysTextAfterTheAnnouncementAndOnRequest) {
    TcpListener server;
    auto options = tcpOptions(server);
    options.sayAfterLink = "GPRS ser";
    options.sayDelay = 10ms;
    sim::SimRunner runner(options);
    runner.start();
    TcpConnection device = server.accept();
    EXPECT_EQ(device.read(15), "CONNECTGPRS ser");
    runner.say("BUSY");
    EXPECT_EQ(device.read(4), "BUSY");
}

TEST(SimTcp, StopClosesTheConnection) {
    TcpListener server;
    sim::SimRunner runner(tcpOptions(server));
    runner.start();
    TcpConnection device = server.accept();
    ASSERT_EQ(device.read(7), "CONNECT");
    runner.stop();
    EXPECT_TRUE(device.waitPeerClosed());
    EXPECT_FALSE(runner.running());
}

} // namespace

// The program as a fleet: every device its own connection and its own number,
// counting up from --device-number; each connects again after its connection
// dropped, and the drop after K batches strikes once.
TEST(SimTcp, AFleetProgramConnectsEveryDeviceWithItsOwnNumberAndRedials) {
    TcpListener server;
    ASSERT_TRUE(server.ok());
    SimProcess fleet({"--connect", server.address(), "--devices", "3", "--device-number", "100",
                      "--retry", "50", "--drop-after-batches", "1"});
    ASSERT_TRUE(fleet.ok()) << fleet.error();
    EXPECT_EQ(fleet.slavePath(), "connect " + server.address() + " devices 3 numbers 100-102");
    std::set<unsigned> numbers;
    std::vector<TcpConnection> devices;
    for (int i = 0; i < 3; ++i) {
        devices.push_back(server.accept());
        ASSERT_EQ(devices.back().read(7), "CONNECT");
        ASSERT_TRUE(devices.back().write("CONFR" + passwordBytes(1234)));
        const std::string reply = devices.back().read(5 + 68);
        ASSERT_EQ(reply.substr(0, 5), "CONFR");
        numbers.insert(static_cast<unsigned char>(reply[5 + 58]) |
                       (static_cast<unsigned char>(reply[5 + 59]) << 8));
    }
    EXPECT_EQ(numbers, (std::set<unsigned>{100, 101, 102}));

    // The first batch is kept and never answered: the link drops.
    const std::string one = batch({record("9161110001", 5)});
    ASSERT_TRUE(devices[0].write(one));
    EXPECT_TRUE(devices[0].waitPeerClosed());
    TcpConnection again = server.accept();
    ASSERT_EQ(again.read(7), "CONNECT");
    // The drop struck once: a batch on the new connection is answered.
    ASSERT_TRUE(again.write(batch({record("9161110002", 6)})));
    EXPECT_EQ(again.read(3), "ADD");
    EXPECT_EQ(fleet.stop(), 0);
}
