// The device model's number memory on both links: reading it out in packets
// with the acknowledgement handshake, cell writes, single adds and deletes,
// erasing and the Internet link's record batches.
#include "sim/device.h"
#include "wire_helpers.h"

#include <gtest/gtest.h>

using sim::Carrier;
using sim::NumberEntry;
using sim::SimDevice;
using namespace simtest;

namespace {

std::string answer(SimDevice& device, std::string_view bytes) {
    return sim::joined(device.feed(bytes));
}

// Reads the whole list over the serial link as the configurator does,
// acknowledging every packet; returns the packets.
std::vector<Packet> readSerial(SimDevice& device, std::vector<std::size_t>* lengths = nullptr) {
    std::vector<Packet> packets;
    std::string frame = answer(device, "READ 1234\r");
    while (!frame.empty()) {
        std::string_view packet;
        if (!splitIpd(frame, &packet)) {
            ADD_FAILURE() << "not one +IPD frame: " << frame;
            break;
        }
        if (lengths) {
            lengths->push_back(packet.size());
        }
        packets.push_back(decodePacket(packet));
        frame = answer(device, "R_OK\r");
        if (packets.size() > 100) {
            ADD_FAILURE() << "the read does not end";
            break;
        }
    }
    return packets;
}

std::vector<NumberEntry> storedEntries(const SimDevice& device) {
    std::vector<NumberEntry> out;
    for (const auto& [cell, entry] : device.state().storedNumbers()) {
        out.push_back(entry);
    }
    return out;
}

TEST(SimDeviceRead, SixHundredFiftyNumbersComeAs31PacketsOneAfterEachAcknowledgement) {
    const auto numbers = sampleNumbers(650);
    SimDevice device(stateWith(numbers));
    std::vector<std::size_t> lengths;
    const auto packets = readSerial(device, &lengths);
    ASSERT_EQ(packets.size(), 31u);
    std::vector<NumberEntry> got;
    for (std::size_t i = 0; i < packets.size(); ++i) {
        const bool last = i + 1 == packets.size();
        EXPECT_EQ(packets[i].kind, last ? 'E' : 'R') << i;
        EXPECT_TRUE(packets[i].endMark) << i;
        EXPECT_EQ(lengths[i], last ? 12u * 20 + 2 : 254u) << i;
        got.insert(got.end(), packets[i].records.begin(), packets[i].records.end());
    }
    EXPECT_EQ(got, numbers);
    EXPECT_FALSE(device.readInProgress());
    EXPECT_EQ(answer(device, "R_OK\r"), "") << "nothing follows the last packet";
}

TEST(SimDeviceRead, PacketBytesAreExact) {
    SimDevice device(stateWith({{"9161234567", 300}, {"123", 0}}));
    const std::string expected =
        std::string("+IPD,26:E9161234567\x2C\x01") + std::string("123\0\0\0\0\0\0\0\0\0@", 13);
    EXPECT_EQ(answer(device, "READ 1234\r"), expected);
}

TEST(SimDeviceRead, TwentyOneNumbersFillOneLastPacket) {
    SimDevice device(stateWith(sampleNumbers(21)));
    std::vector<std::size_t> lengths;
    const auto packets = readSerial(device, &lengths);
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].kind, 'E');
    EXPECT_EQ(lengths[0], 254u);
}

TEST(SimDeviceRead, FreeCellsAreSkippedAndAnEmptyMemoryAnswersReadok) {
    sim::DeviceState state;
    state.numbers.resize(6);
    state.numbers[1] = {"111", 1};
    state.numbers[5] = {"555", 5};
    SimDevice device(state);
    const auto packets = readSerial(device);
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].records, (std::vector<NumberEntry>{{"111", 1}, {"555", 5}}));

    SimDevice empty;
    EXPECT_EQ(answer(empty, "READ 1234\r"), "READOK");
    EXPECT_FALSE(empty.readInProgress());
}

TEST(SimDeviceRead, WrongPasswordAndStrayAcknowledgementsGetNoPacket) {
    SimDevice device(stateWith(sampleNumbers(3)));
    EXPECT_EQ(answer(device, "READ 4321\r"), "Not corr");
    EXPECT_EQ(answer(device, "READ\r"), "Not corr");
    EXPECT_EQ(answer(device, "R_OK\r"), "");
    EXPECT_EQ(answer(device, "RFAIL\r"), "");
}

TEST(SimDeviceRead, RfailSendsTheSamePacketAgainAndANewReadStartsOver) {
    SimDevice device(stateWith(sampleNumbers(30)));
    const std::string first = answer(device, "READ 1234\r");
    EXPECT_EQ(answer(device, "RFAIL\r"), first);
    EXPECT_EQ(answer(device, "RFAIL\r"), first);
    const std::string second = answer(device, "R_OK\r");
    std::string_view packet;
    ASSERT_TRUE(splitIpd(second, &packet));
    EXPECT_EQ(decodePacket(packet).kind, 'E');
    EXPECT_EQ(decodePacket(packet).records.size(), 9u);
    EXPECT_EQ(answer(device, "READ 1234\r"), first);
}

TEST(SimDeviceRead, CorruptPacketFaultSpoilsTheKthPacketOnceInEveryRead) {
    SimDevice device(stateWith(sampleNumbers(50)));
    device.faults().corruptPacketAt = 2;
    for (int round = 0; round < 2; ++round) {
        const std::string first = answer(device, "READ 1234\r");
        EXPECT_EQ(first.back(), '@');
        const std::string spoiled = answer(device, "R_OK\r");
        ASSERT_EQ(spoiled.substr(0, 9), "+IPD,254:");
        EXPECT_EQ(spoiled.size(), 9u + 254u) << "the length stays; the end mark is wrong";
        EXPECT_NE(spoiled.back(), '@');
        const std::string resent = answer(device, "RFAIL\r");
        EXPECT_EQ(resent.substr(0, resent.size() - 1), spoiled.substr(0, spoiled.size() - 1));
        EXPECT_EQ(resent.back(), '@');
        const std::string lastFrame = answer(device, "R_OK\r");
        std::string_view last;
        ASSERT_TRUE(splitIpd(lastFrame, &last));
        EXPECT_EQ(decodePacket(last).kind, 'E');
        EXPECT_EQ(decodePacket(last).records.size(), 8u);
    }
}

// A device that loses its way in the middle of its list: every read sends
// its first K packets (the resend on "RFAIL" included), then nothing, while
// other commands are still answered, on both links.
TEST(SimDeviceRead, ReadStopsAfterFaultSendsKPacketsOfEveryReadAndThenNothing) {
    SimDevice device(stateWith(sampleNumbers(50)));
    device.faults().readStopsAfter = 2;
    for (int round = 0; round < 2; ++round) {
        const auto packets = readSerial(device);
        ASSERT_EQ(packets.size(), 2u) << "round " << round;
        EXPECT_EQ(packets[1].kind, 'R') << "the list is not over";
        EXPECT_FALSE(device.readInProgress());
        EXPECT_EQ(answer(device, "RFAIL\r"), "");
        EXPECT_EQ(answer(device, "CONFO"), device.greeting());
    }
    ASSERT_FALSE(answer(device, "READ 1234\r").empty());
    const std::string second = answer(device, "R_OK\r");
    EXPECT_EQ(answer(device, "RFAIL\r"), second) << "the K-th packet is still sent again";
    EXPECT_EQ(answer(device, "R_OK\r"), "");

    SimDevice tcp(stateWith(sampleNumbers(50)), Carrier::Tcp);
    tcp.faults().readStopsAfter = 1;
    EXPECT_EQ(answer(tcp, "READ").front(), 'R');
    EXPECT_EQ(answer(tcp, "R_OK\r"), "");
    EXPECT_FALSE(tcp.readInProgress());
}

TEST(SimDeviceCells, NtfWritesCellsAndEfaFreesTheRest) {
    SimDevice device;
    EXPECT_EQ(answer(device, "RT+NTF=0,9161234567,12\r"), "+NTF:1");
    EXPECT_EQ(answer(device, "RT+NTF=1,222,\r"), "+NTF:1") << "an empty apartment is 0";
    EXPECT_EQ(answer(device, "RT+NTF=5,555,65535\r"), "+NTF:1");
    EXPECT_EQ(answer(device, "RT+NTF=0,9161234567,13\r"), "+NTF:1") << "overwrites";
    const auto stored = device.state().storedNumbers();
    ASSERT_EQ(stored.size(), 3u);
    EXPECT_EQ(stored[0], (std::pair<std::size_t, NumberEntry>{0, {"9161234567", 13}}));
    EXPECT_EQ(stored[1], (std::pair<std::size_t, NumberEntry>{1, {"222", 0}}));
    EXPECT_EQ(stored[2], (std::pair<std::size_t, NumberEntry>{5, {"555", 65535}}));

    EXPECT_EQ(answer(device, "RT+EFA=2\r"), "+EFA:1");
    EXPECT_EQ(storedEntries(device), (std::vector<NumberEntry>{{"9161234567", 13}, {"222", 0}}));
    EXPECT_EQ(answer(device, "RT+EFA=0\r"), "+EFA:1");
    EXPECT_TRUE(device.state().storedNumbers().empty());
}

TEST(SimDeviceCells, NtfRefusesWhatACellCannotHold) {
    sim::DeviceState state;
    state.numberCapacity = 3;
    SimDevice device(state);
    EXPECT_EQ(answer(device, "RT+NTF=2,1,1\r"), "+NTF:1") << "the last cell";
    for (const char* command :
         {"RT+NTF=3,1,1\r", "RT+NTF=x,1,1\r", "RT+NTF=,1,1\r", "RT+NTF=1,,1\r",
          "RT+NTF=1,12345678901,1\r", "RT+NTF=1,123,65536\r", "RT+NTF=1,123,1x\r",
          "RT+NTF=1,1,2,3\r", "RT+NTF=1,1\r", "RT+NTF 1,1,1\r"}) {
        EXPECT_EQ(answer(device, command), "+NTF:0") << command;
    }
    EXPECT_EQ(storedEntries(device), (std::vector<NumberEntry>{{"1", 1}}));
}

TEST(SimDeviceCells, EfaTakesCellsUpToTheCapacity) {
    SimDevice device(stateWith(sampleNumbers(10)));
    EXPECT_EQ(answer(device, "RT+EFA=651\r"), "+EFA:0");
    EXPECT_EQ(answer(device, "RT+EFA=\r"), "+EFA:0");
    EXPECT_EQ(answer(device, "RT+EFA=-1\r"), "+EFA:0");
    EXPECT_EQ(device.state().storedNumbers().size(), 10u);
    EXPECT_EQ(answer(device, "RT+EFA=650\r"), "+EFA:1");
    EXPECT_EQ(device.state().storedNumbers().size(), 10u);
}

TEST(SimDeviceCells, RefusalFaultAndFullMemory) {
    SimDevice device;
    device.faults().refuseNtfAt = 2;
    EXPECT_EQ(answer(device, "RT+NTF=0,100,1\r"), "+NTF:1");
    EXPECT_EQ(answer(device, "RT+NTF=1,101,1\r"), "+NTF:0");
    EXPECT_EQ(answer(device, "RT+NTF=1,101,1\r"), "+NTF:1") << "only the second";
    EXPECT_EQ(device.state().storedNumbers().size(), 2u);

    device.faults().memoryFull = true;
    EXPECT_EQ(answer(device, "RT+NTF=2,102,1\r"), "+NTF:0");
    EXPECT_EQ(answer(device, "ADD 1234 89161234567\r"), "FULL");
    EXPECT_EQ(device.state().storedNumbers().size(), 2u);
}

TEST(SimDeviceAdd, BothFormsStoreInTheFirstFreeCell) {
    SimDevice device;
    // The first 11 characters are the number; the memory keeps its last 10.
    EXPECT_EQ(answer(device, "ADD 1234 8916123456712\r"), "ADD");
    EXPECT_EQ(answer(device, "ADD89031112233\x1A\r"), "ADD") << "a text message has no password";
    EXPECT_EQ(storedEntries(device),
              (std::vector<NumberEntry>{{"9161234567", 12}, {"9031112233", 0}}));

    EXPECT_EQ(answer(device, "DEL 1234 89161234567\r"), "DEL");
    EXPECT_EQ(answer(device, "ADD 1234 123\r"), "ADD");
    const auto stored = device.state().storedNumbers();
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[0], (std::pair<std::size_t, NumberEntry>{0, {"123", 0}})) << "the freed cell";
}

TEST(SimDeviceAdd, KnownNumberGetsTheNewApartment) {
    SimDevice device;
    EXPECT_EQ(answer(device, "ADD 1234 891612345671\r"), "ADD");
    EXPECT_EQ(answer(device, "ADD 1234 89161234567321\r"), "ADD");
    EXPECT_EQ(storedEntries(device), (std::vector<NumberEntry>{{"9161234567", 321}}));
}

TEST(SimDeviceAdd, FullWhenNoCellIsFree) {
    sim::DeviceState state;
    state.numberCapacity = 2;
    SimDevice device(state);
    EXPECT_EQ(answer(device, "ADD 1234 80000000001\r"), "ADD");
    EXPECT_EQ(answer(device, "ADD 1234 80000000002\r"), "ADD");
    EXPECT_EQ(answer(device, "ADD 1234 80000000003\r"), "FULL");
    EXPECT_EQ(device.state().storedNumbers().size(), 2u);
}

TEST(SimDeviceAdd, WrongPasswordIsRefusedAndMalformedTextIgnored) {
    SimDevice device;
    EXPECT_EQ(answer(device, "ADD 9999 89161234567\r"), "Not corr");
    EXPECT_EQ(answer(device, "ADD 1234 8916abc\r"), "");
    EXPECT_EQ(answer(device, "ADD 1234 89161234567123456\r"), "") << "apartment of six digits";
    EXPECT_EQ(answer(device, "ADD 1234 8916123456799999\r"), "") << "apartment above 65535";
    EXPECT_EQ(answer(device, "ADD 1234 \r"), "");
    EXPECT_TRUE(device.state().storedNumbers().empty());
}

TEST(SimDeviceDelete, FreesEveryCellOfTheNumberOrSaysNotNumber) {
    SimDevice device(stateWith({{"9161234567", 1}, {"222", 2}, {"9161234567", 3}}));
    EXPECT_EQ(answer(device, "DEL 4321 89161234567\r"), "Not corr");
    EXPECT_EQ(answer(device, "DEL 1234 89161234567\r"), "DEL");
    EXPECT_EQ(storedEntries(device), (std::vector<NumberEntry>{{"222", 2}}));
    EXPECT_EQ(answer(device, "DEL 1234 89161234567\r"), "NOT NUMBER");
    EXPECT_EQ(answer(device, "DEL222\x1A\r"), "DEL");
    EXPECT_TRUE(device.state().storedNumbers().empty());
}

TEST(SimDeviceErase, EveryFormFreesAllCells) {
    for (const char* command : {"ERASE 1234\r", "ERASE\r"}) {
        SimDevice device(stateWith(sampleNumbers(5)));
        EXPECT_EQ(answer(device, command), "ERASE") << command;
        EXPECT_TRUE(device.state().storedNumbers().empty()) << command;
    }
    SimDevice device(stateWith(sampleNumbers(5)));
    EXPECT_EQ(answer(device, "ERASE 1\r"), "Not corr");
    EXPECT_EQ(device.state().storedNumbers().size(), 5u);
}

// --- the Internet link ------------------------------------------------------

SimDevice tcpDevice(sim::DeviceState state = {}) {
    return SimDevice(std::move(state), Carrier::Tcp);
}

TEST(SimDeviceTcp, AnnouncesItselfWhenConnectedEvenWhenAnsweringNothing) {
    SimDevice device = tcpDevice();
    EXPECT_TRUE(device.takeUnsolicited().empty());
    device.linkOpened();
    EXPECT_EQ(sim::joined(device.takeUnsolicited()), "CONNECT");
    EXPECT_TRUE(device.takeUnsolicited().empty());

    device.faults().noReply = true;
    device.setSayAfterLink("Trevoga", std::chrono::milliseconds(200));
    device.linkOpened();
    EXPECT_EQ(sim::joined(device.takeUnsolicited()), "CONNECT");

    device.faults().noReply = false;
    device.linkOpened();
    const sim::Reply said = device.takeUnsolicited();
    ASSERT_EQ(said.size(), 2u);
    EXPECT_EQ(said[0].bytes, "CONNECT");
    EXPECT_EQ(said[1], (sim::ReplyPiece{"Trevoga", std::chrono::milliseconds(200)}));
}

TEST(SimDeviceTcp, ReadSendsBarePacketsOnePerAcknowledgement) {
    const auto numbers = sampleNumbers(25);
    SimDevice device = tcpDevice(stateWith(numbers));
    const sim::Reply first = device.feed("READ");
    ASSERT_EQ(first.size(), 1u) << "one packet, one write";
    EXPECT_EQ(first[0].bytes.size(), 254u);
    const Packet p1 = decodePacket(first[0].bytes);
    EXPECT_EQ(p1.kind, 'R');
    EXPECT_TRUE(p1.endMark);
    const Packet p2 = decodePacket(answer(device, "R_OK\r"));
    EXPECT_EQ(p2.kind, 'E');
    auto all = p1.records;
    all.insert(all.end(), p2.records.begin(), p2.records.end());
    EXPECT_EQ(all, numbers);
    EXPECT_EQ(answer(device, "R_OK\r"), "");

    SimDevice empty = tcpDevice();
    EXPECT_EQ(answer(empty, "READ"), "READOK");
}

TEST(SimDeviceTcp, EraseThenBatchesAreStoredInTheOrderReceived) {
    SimDevice device = tcpDevice(stateWith(sampleNumbers(40)));
    EXPECT_EQ(answer(device, "ERASE"), "ERASE");
    EXPECT_TRUE(device.state().storedNumbers().empty());

    std::vector<NumberEntry> sent;
    std::vector<std::string> records;
    for (int i = 0; i < 23; ++i) {
        const NumberEntry e{std::to_string(8'000'000 + i), static_cast<std::uint16_t>(300 + i)};
        sent.push_back(e);
        records.push_back(record(e.number, e.apartment));
    }
    // A ten-character number fills its field with no terminator.
    sent[22] = {"9161234567", 300};
    records[22] = record("9161234567", 300);
    ASSERT_EQ(records[22].substr(10), "\x2C\x01");

    for (const auto& [from, to] : {std::pair{0, 10}, std::pair{10, 20}, std::pair{20, 23}}) {
        const std::string b = batch({records.begin() + from, records.begin() + to});
        EXPECT_EQ(b.size(), 12u * (to - from) + 5);
        EXPECT_EQ(answer(device, b), "ADD");
    }
    EXPECT_EQ(storedEntries(device), sent);
}

TEST(SimDeviceTcp, BatchInPiecesIsOneBatch) {
    SimDevice device = tcpDevice();
    const std::string b = batch({record("111", 1), record("READ", 2), record("CLOSED", 3)});
    for (std::size_t i = 0; i + 1 < b.size(); ++i) {
        EXPECT_EQ(answer(device, b.substr(i, 1)), "") << "byte " << i;
    }
    EXPECT_EQ(answer(device, b.substr(b.size() - 1)), "ADD");
    EXPECT_EQ(storedEntries(device),
              (std::vector<NumberEntry>{{"111", 1}, {"READ", 2}, {"CLOSED", 3}}));
    EXPECT_FALSE(device.closeRequested()) << "record bytes are data";
}

TEST(SimDeviceTcp, SpoiledBatchIsAskedForAgainAndNotStored) {
    SimDevice device = tcpDevice();
    std::string noMark = batch({record("111", 1)});
    noMark.back() = '#';
    EXPECT_EQ(answer(device, noMark), "ADN");
    std::string zero = "ADN";
    zero += std::string(1, '\0') + "@";
    EXPECT_EQ(answer(device, zero), "ADN");
    std::string eleven = batch(std::vector<std::string>(11, record("222", 2)));
    EXPECT_EQ(answer(device, eleven), "ADN");
    EXPECT_TRUE(device.state().storedNumbers().empty());

    device.faults().repeatBatchAt = 2;
    const std::string a = batch({record("1", 1)});
    const std::string b = batch({record("2", 2)});
    EXPECT_EQ(answer(device, a), "ADD");
    EXPECT_EQ(answer(device, b), "ADN");
    EXPECT_EQ(answer(device, b), "ADD") << "the same batch sent again";
    EXPECT_EQ(storedEntries(device), (std::vector<NumberEntry>{{"1", 1}, {"2", 2}}));
}

TEST(SimDeviceTcp, BatchBeyondTheMemoryKeepsWhatFitsAndSaysFull) {
    sim::DeviceState state;
    state.numberCapacity = 15;
    SimDevice device = tcpDevice(state);
    std::vector<std::string> records;
    for (int i = 0; i < 10; ++i) {
        records.push_back(record(std::to_string(100 + i), 0));
    }
    EXPECT_EQ(answer(device, batch(records)), "ADD");
    EXPECT_EQ(answer(device, batch(records)), "FULL");
    EXPECT_EQ(device.state().storedNumbers().size(), 15u);
    device.faults().memoryFull = true;
    EXPECT_EQ(answer(device, "ERASE"), "ERASE");
    EXPECT_EQ(answer(device, batch(records)), "FULL");
}

TEST(SimDeviceTcp, ClosedEndsTheConnectionAndNothingAfterItIsRead) {
    SimDevice device = tcpDevice(stateWith(sampleNumbers(3)));
    EXPECT_EQ(answer(device, "CLOSEDREAD"), "");
    EXPECT_TRUE(device.closeRequested());
    EXPECT_EQ(device.pendingInput(), 0u);
    device.linkClosed();
    device.linkOpened();
    EXPECT_FALSE(device.closeRequested()) << "a new connection starts afresh";
}

TEST(SimDeviceTcp, EachLinkTakesItsOwnForms) {
    SimDevice tcp = tcpDevice();
    EXPECT_EQ(answer(tcp, "CHPASS 1234 5678\x1A\r"), "CHPASS");
    EXPECT_EQ(answer(tcp, "CONFR" + passwordBytes(5678)).size(), 73u);
    EXPECT_EQ(answer(tcp, "RT+NTF=0,1,1\r"), "") << "the serial writer's command";
    EXPECT_EQ(answer(tcp, "CONFO"), "") << "a GPRS device announces itself instead";

    SimDevice serial;
    EXPECT_EQ(answer(serial, batch({record("1", 1)})), "");
    EXPECT_EQ(answer(serial, "CLOSED"), "");
    EXPECT_FALSE(serial.closeRequested());
    EXPECT_TRUE(serial.state().storedNumbers().empty());
}

TEST(SimDeviceTcp, SilenceAtTheNthBatchStoresItButDoesNotAnswer) {
    SimDevice device = tcpDevice();
    device.faults().silence = {sim::StepFault::Mode::SkipOne, "ADN", 2};
    EXPECT_EQ(answer(device, batch({record("1", 1)})), "ADD");
    EXPECT_EQ(answer(device, batch({record("2", 2)})), "");
    EXPECT_EQ(answer(device, batch({record("3", 3)})), "ADD");
    EXPECT_EQ(device.state().storedNumbers().size(), 3u);
}

} // namespace
