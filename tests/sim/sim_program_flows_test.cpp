// The vxrt7-sim program through whole exchanges, as the configurator drives
// it: the serial flows over a real pseudo-terminal, the TCP mode against a
// listening socket, preloaded state and the dump it leaves on exit.
#include "raw_tty.h"
#include "sim/state_file.h"
#include "tcp_peer.h"
#include "tests/support/sim_process.h"
#include "wire_helpers.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

using namespace simtest;

namespace {

// Reads one "+IPD,<len>:<packet>" frame; empty when none comes.
std::string readFrame(RawTty& tty) {
    std::string header;
    while (header.size() < 12 && (header.empty() || header.back() != ':')) {
        const std::string c = tty.read(1);
        if (c.empty()) {
            return header;
        }
        header += c;
    }
    if (header.rfind("+IPD,", 0) != 0 || header.back() != ':') {
        return header;
    }
    const std::size_t length = std::stoul(header.substr(5, header.size() - 6));
    return header + tty.read(length);
}

std::string numbersFile(const TempDir& dir, const std::vector<sim::NumberEntry>& numbers) {
    const std::string path = dir.file("numbers.txt");
    std::ofstream out(path, std::ios::binary);
    out << "# cell;number;apartment\n";
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        out << i << ';' << numbers[i].number << ';' << numbers[i].apartment << '\n';
    }
    return path;
}

sim::DeviceState readDump(const std::string& path) {
    sim::DeviceState state;
    std::string error;
    EXPECT_TRUE(sim::parseStateDump(fileBytes(path), &state, &error)) << error;
    return state;
}

bool exitsBy(SimProcess& sim, std::chrono::milliseconds timeout) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (sim.alive()) {
        if (std::chrono::steady_clock::now() >= until) {
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

TEST(SimProgramSerial, ConfigurationRoundTripEndsUpInTheDump) {
    TempDir dir;
    const std::string dump = dir.file("state.txt");
    SimProcess sim({"--password", "4321", "--dump", dump});
    ASSERT_TRUE(sim.ok()) << sim.error();
    RawTty tty(sim.slavePath());
    ASSERT_TRUE(tty.ok());

    ASSERT_TRUE(tty.write("CONFR" + passwordBytes(1234)));
    EXPECT_EQ(tty.read(8), "Not corr");
    ASSERT_TRUE(tty.write("CONFR"));
    ASSERT_TRUE(tty.write(passwordBytes(4321)));
    const std::string read = tty.read(73);
    ASSERT_EQ(read.size(), 73u);
    EXPECT_EQ(read.substr(0, 7), "CONFR\xE1\x10");

    auto block = sim::factoryConfigBlock();
    block[0] = 0xE1;
    block[1] = 0x10;
    block[2] = 0x81;
    block[17] = '8';
    ASSERT_TRUE(tty.write("CONFW"));
    ASSERT_TRUE(tty.write(blockBytes(block)));
    EXPECT_EQ(tty.read(5), "CONFW");
    ASSERT_TRUE(tty.write("CONFR" + passwordBytes(4321)));
    EXPECT_EQ(tty.read(73), "CONFR" + blockBytes(block));
    ASSERT_TRUE(tty.write("APN 4321 \"internet.mts.ru\",\"mts\",\"mts\"#\r"));
    EXPECT_EQ(tty.read(3), "APN");
    ASSERT_TRUE(tty.write("CHPASS 4321 1111\r"));
    EXPECT_EQ(tty.read(6), "CHPASS");

    ASSERT_EQ(sim.stop(), 0);
    const sim::DeviceState state = readDump(dump);
    block[0] = 0x57; // 1111
    block[1] = 0x04;
    EXPECT_EQ(state.configBlock, block);
    EXPECT_EQ(state.accessPoint, "internet.mts.ru\",\"mts\",\"mts");
}

TEST(SimProgramSerial, ReadsSixHundredFiftyNumbersIn31PacketsWithTheHandshake) {
    TempDir dir;
    const auto numbers = sampleNumbers(650);
    SimProcess sim({"--numbers", numbersFile(dir, numbers)});
    ASSERT_TRUE(sim.ok()) << sim.error();
    RawTty tty(sim.slavePath());
    ASSERT_TRUE(tty.ok());

    ASSERT_TRUE(tty.write("READ 1234\r"));
    std::vector<sim::NumberEntry> got;
    int packets = 0;
    for (;;) {
        const std::string frame = readFrame(tty);
        std::string_view packet;
        ASSERT_TRUE(splitIpd(frame, &packet)) << "packet " << packets << ": " << frame;
        ++packets;
        const Packet p = decodePacket(packet);
        EXPECT_TRUE(p.endMark);
        got.insert(got.end(), p.records.begin(), p.records.end());
        ASSERT_TRUE(tty.write("R_OK\r"));
        if (p.kind == 'E') {
            break;
        }
        ASSERT_EQ(p.kind, 'R');
        ASSERT_LT(packets, 40);
    }
    EXPECT_EQ(packets, 31);
    EXPECT_EQ(got, numbers);
    EXPECT_EQ(tty.readFor(150ms), "");
}

TEST(SimProgramSerial, SpoiledPacketIsResentSoundOnRfail) {
    TempDir dir;
    SimProcess sim({"--numbers", numbersFile(dir, sampleNumbers(30)), "--corrupt-packet", "1"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    RawTty tty(sim.slavePath());
    ASSERT_TRUE(tty.ok());

    ASSERT_TRUE(tty.write("READ 1234\r"));
    const std::string spoiled = readFrame(tty);
    ASSERT_EQ(spoiled.size(), 9u + 254u);
    EXPECT_NE(spoiled.back(), '@');
    ASSERT_TRUE(tty.write("RFAIL\r"));
    const std::string sound = readFrame(tty);
    EXPECT_EQ(sound.back(), '@');
    EXPECT_EQ(sound.substr(0, sound.size() - 1), spoiled.substr(0, spoiled.size() - 1));
    ASSERT_TRUE(tty.write("R_OK\r"));
    const std::string lastFrame = readFrame(tty);
    std::string_view last;
    ASSERT_TRUE(splitIpd(lastFrame, &last));
    EXPECT_EQ(decodePacket(last).kind, 'E');
    EXPECT_EQ(decodePacket(last).records.size(), 9u);
}

TEST(SimProgramSerial, CellWritesFreeingAndAFullMemoryEndUpInTheDump) {
    TempDir dir;
    const std::string dump = dir.file("state.txt");
    SimProcess sim({"--capacity", "2", "--dump", dump});
    ASSERT_TRUE(sim.ok()) << sim.error();
    RawTty tty(sim.slavePath());
    ASSERT_TRUE(tty.ok());

    const std::vector<std::pair<std::string, std::string>> exchange = {
        {"RT+NTF=0,9161234567,12\r", "+NTF:1"},   {"RT+NTF=1,222,\r", "+NTF:1"},
        {"RT+NTF=2,333,3\r", "+NTF:0"},           {"RT+EFA=1\r", "+EFA:1"},
        {"ADD 1234 8903111223344\r", "ADD"},      {"ADD 1234 89035556677\r", "FULL"},
        {"DEL 1234 89035556677\r", "NOT NUMBER"},
    };
    for (const auto& [command, reply] : exchange) {
        ASSERT_TRUE(tty.write(command));
        EXPECT_EQ(tty.read(reply.size()), reply) << command;
    }
    ASSERT_EQ(sim.stop(), 0);
    const auto stored = readDump(dump).storedNumbers();
    const std::vector<std::pair<std::size_t, sim::NumberEntry>> expected = {
        {0, {"9161234567", 12}}, {1, {"9031112233", 44}}};
    EXPECT_EQ(stored, expected);
    EXPECT_NE(fileBytes(dump).find("\n0;9161234567;12\n1;9031112233;44\n"), std::string::npos);
}

TEST(SimProgramSerial, TextAfterLinkingAndSilenceFromAStep) {
    SimProcess sim({"--say", "BUSY", "--say-delay-ms", "0", "--mute-from", "RT+NTF:2"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    RawTty tty(sim.slavePath());
    ASSERT_TRUE(tty.ok());
    ASSERT_TRUE(tty.write("CONFO"));
    EXPECT_EQ(tty.read(14), greeting(30) + "BUSY");
    ASSERT_TRUE(tty.write("RT+NTF=0,1,1\r"));
    EXPECT_EQ(tty.read(6), "+NTF:1");
    ASSERT_TRUE(tty.write("RT+NTF=1,2,2\r"));
    EXPECT_EQ(tty.readFor(150ms), "");
    ASSERT_TRUE(tty.write("CONFO"));
    EXPECT_EQ(tty.readFor(150ms), "") << "silent from then on";
}

TEST(SimProgramSerial, PreloadedBlockAndPasswordOverride) {
    TempDir dir;
    auto block = sim::factoryConfigBlock();
    block[16] = 1;
    const std::string path = dir.file("block.bin");
    std::ofstream(path, std::ios::binary) << blockBytes(block);
    SimProcess sim({"--config", path, "--password", "7"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    RawTty tty(sim.slavePath());
    ASSERT_TRUE(tty.ok());
    ASSERT_TRUE(tty.write("CONFR" + passwordBytes(7)));
    block[0] = 7;
    block[1] = 0;
    EXPECT_EQ(tty.read(73), "CONFR" + blockBytes(block));
}

TEST(SimProgramTcp, ConnectsStoresBatchesAndEndsOnClosedWithADump) {
    TcpListener server;
    ASSERT_TRUE(server.ok());
    TempDir dir;
    const std::string dump = dir.file("state.txt");
    SimProcess sim({"--tcp", server.address(), "--dump", dump, "--numbers",
                    numbersFile(dir, sampleNumbers(4))});
    ASSERT_TRUE(sim.ok()) << sim.error();
    EXPECT_EQ(sim.slavePath(), "tcp " + server.address());
    TcpConnection device = server.accept();
    ASSERT_TRUE(device.ok());
    EXPECT_EQ(device.read(7), "CONNECT");

    ASSERT_TRUE(device.write("READ"));
    EXPECT_EQ(decodePacket(device.read(50)).records, sampleNumbers(4));
    ASSERT_TRUE(device.write("R_OK\r"));
    ASSERT_TRUE(device.write("ERASE"));
    EXPECT_EQ(device.read(5), "ERASE");
    ASSERT_TRUE(device.write(batch({record("9161234567", 300), record("1234567", 0)})));
    EXPECT_EQ(device.read(3), "ADD");
    ASSERT_TRUE(device.write("CLOSED"));
    EXPECT_TRUE(device.waitPeerClosed());
    EXPECT_TRUE(exitsBy(sim, 5s)) << "the program ends with the link";

    const std::vector<std::pair<std::size_t, sim::NumberEntry>> expected = {
        {0, {"9161234567", 300}}, {1, {"1234567", 0}}};
    EXPECT_EQ(readDump(dump).storedNumbers(), expected);
}

TEST(SimProgramTcp, UnreachableServerEndsWithStatusOne) {
    unsigned port;
    {
        TcpListener gone;
        port = gone.port();
    }
    SimProcess sim({"--tcp", "127.0.0.1:" + std::to_string(port)});
    ASSERT_TRUE(sim.ok()) << sim.error();
    ASSERT_TRUE(exitsBy(sim, 5s));
    const int status = sim.stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
}

} // namespace
