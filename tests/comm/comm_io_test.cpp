// Reading and writing through the serial port on a real pseudo-terminal:
// both directions, the read time-out, transfers larger than the driver's
// queues, a stalled line and a line that hangs up.
#include "comm_fixture.h"

#include <chrono>
#include <string>
#include <thread>

class CommIoTest : public CommPortTest {};

namespace {

using Clock = std::chrono::steady_clock;

long long msSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

std::string pattern(std::size_t size) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    }
    return s;
}

// Reads until count bytes have come (each Read waits up to its time-out).
std::string readAll(TComm& comm, std::size_t count) {
    std::string out;
    char buf[1500];
    int idle = 0;
    while (out.size() < count && idle < 3) {
        int32_t n = comm.Read(buf, sizeof buf);
        if (n <= 0) {
            ++idle;
            continue;
        }
        idle = 0;
        out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
}

} // namespace

TEST_F(CommIoTest, BytesPassBothWays) {
    openPort();
    ASSERT_EQ(comm.Write("CONFO", 5), 5);
    EXPECT_EQ(pty.readMaster(5), "CONFO");

    const std::string reply("CONFO\r\n\x00\xff\x1a", 10);
    ASSERT_TRUE(pty.writeMaster(reply));
    char buf[64] = {};
    ASSERT_EQ(comm.Read(buf, sizeof buf), 10);
    EXPECT_EQ(std::string(buf, 10), reply);
}

TEST_F(CommIoTest, ReadTakesAtMostCountAndLeavesTheRestQueued) {
    openPort();
    ASSERT_TRUE(pty.writeMaster("12345"));
    ASSERT_TRUE(dispatcher.runUntil([&] { return comm.InQueCount() == 5; }, 2000));
    char buf[8] = {};
    auto start = Clock::now();
    EXPECT_EQ(comm.Read(buf, 3), 3);
    EXPECT_EQ(std::string(buf, 3), "123");
    EXPECT_EQ(comm.InQueCount(), 2);
    EXPECT_EQ(comm.Read(buf, 8), 2);
    EXPECT_EQ(std::string(buf, 2), "45");
    EXPECT_LT(msSince(start), 900) << "queued bytes must not wait for the read time-out";
}

TEST_F(CommIoTest, ReadWithNothingQueuedGivesUpAfterAboutOneSecond) {
    openPort();
    char buf[16];
    auto start = Clock::now();
    EXPECT_EQ(comm.Read(buf, sizeof buf), 0);
    long long took = msSince(start);
    EXPECT_GE(took, 900);
    EXPECT_LE(took, 3000);
}

TEST_F(CommIoTest, ReadReturnsBytesThatArriveWhileItWaits) {
    openPort();
    std::thread device([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        pty.writeMaster("late");
    });
    char buf[16] = {};
    auto start = Clock::now();
    int32_t n = comm.Read(buf, sizeof buf);
    long long took = msSince(start);
    device.join();
    EXPECT_EQ(std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0), "late");
    EXPECT_LT(took, 900) << "the read returns when bytes come, not at the time-out";
}

TEST_F(CommIoTest, ReadOfZeroBytesReturnsZeroAndConsumesNothing) {
    openPort();
    ASSERT_TRUE(pty.writeMaster("abc"));
    ASSERT_TRUE(dispatcher.runUntil([&] { return comm.InQueCount() == 3; }, 2000));
    char buf[4];
    EXPECT_EQ(comm.Read(buf, 0), 0);
    EXPECT_EQ(comm.InQueCount(), 3);
}

TEST(CommIo, ClosedPortTransfersNothing) {
    TComm comm;
    char buf[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(comm.Read(buf, sizeof buf), -1);
    EXPECT_EQ(comm.Write(buf, sizeof buf), -1);
    EXPECT_NO_THROW(comm.PurgeIn());
    EXPECT_NO_THROW(comm.PurgeOut());
    EXPECT_NO_THROW(comm.Close());
    EXPECT_FALSE(comm.Enabled());
}

TEST_F(CommIoTest, PurgeInDropsWhatIsQueued) {
    openPort();
    ASSERT_TRUE(pty.writeMaster("stale reply"));
    ASSERT_TRUE(dispatcher.runUntil([&] { return comm.InQueCount() == 11; }, 2000));
    comm.PurgeIn();
    EXPECT_EQ(comm.InQueCount(), 0);
    ASSERT_TRUE(pty.writeMaster("fresh"));
    char buf[32] = {};
    ASSERT_EQ(comm.Read(buf, sizeof buf), 5);
    EXPECT_EQ(std::string(buf, 5), "fresh");
}

TEST_F(CommIoTest, WritesLargerThanTheDriverQueueComplete) {
    openPort();
    const std::string data = pattern(200 * 1024);
    std::string received;
    std::thread device([&] { received = pty.readMaster(data.size(), 20000); });
    EXPECT_EQ(comm.Write(data.data(), static_cast<uint32_t>(data.size())),
              static_cast<int32_t>(data.size()));
    device.join();
    EXPECT_TRUE(received == data) << "got " << received.size() << " of " << data.size();
}

TEST_F(CommIoTest, ReadsCollectMoreThanThePtyHoldsAtOnce) {
    openPort();
    const std::string data = pattern(64 * 1024);
    std::thread device([&] { pty.writeMaster(data, 20000); });
    std::string received = readAll(comm, data.size());
    device.join();
    EXPECT_TRUE(received == data) << "got " << received.size() << " of " << data.size();
}

TEST_F(CommIoTest, WriteOnAStoppedLineGivesUpAfterItsTimeOut) {
    openPort();              // 9600: 2 ms a byte
    comm.SetXONState(false); // output held, as after an XOFF from the device
    auto start = Clock::now();
    EXPECT_EQ(comm.Write("0123456789", 10), 0);
    EXPECT_LE(msSince(start), 3000);
    comm.SetXONState(true);
    EXPECT_EQ(comm.Write("go", 2), 2);
    EXPECT_EQ(pty.readMaster(2), "go");
}

TEST_F(CommIoTest, TransfersOnAHungUpLineReturnWithoutWaiting) {
    openPort();
    pty.closeMaster();
    char buf[16];
    auto start = Clock::now();
    EXPECT_EQ(comm.Read(buf, sizeof buf), 0);
    EXPECT_LT(msSince(start), 900) << "a hung-up line must not hold the read";
    EXPECT_EQ(comm.Write("x", 1), 0);
    EXPECT_TRUE(comm.Enabled()) << "the owner closes the port";
    comm.Close();
    EXPECT_FALSE(comm.Enabled());
}
