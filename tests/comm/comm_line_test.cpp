// Line control and status on a real pseudo-terminal: the escape functions
// and their error texts (a pseudo-terminal has no modem lines and says so),
// the hold flags, the queue counts and the purges.
#include "comm_fixture.h"

#include <cerrno>
#include <string>

class CommLineTest : public CommPortTest {};

namespace {

// The error a pseudo-terminal gives for a modem-line request: ENOTTY on
// today's kernels, EINVAL on some.
bool isPtyRefusal(int code) {
    return code == ENOTTY || code == EINVAL;
}

void expectEscapeRefused(const std::function<void()>& call) {
    try {
        call();
        ADD_FAILURE() << "a pseudo-terminal accepted a modem-line request";
    } catch (const ECommError& e) {
        EXPECT_TRUE(isPtyRefusal(e.code())) << e.code();
        EXPECT_EQ(std::string(e.what()),
                  "EscapeCommFunction failure (Error: " + std::to_string(e.code()) + ")");
    }
}

} // namespace

TEST(CommLine, EscapeFunctionsOnAClosedPortRaiseNotOpen) {
    TComm comm;
    expectCommError([&] { comm.EscapeComm(SETDTR); }, "Port not open (Error: -1)", -1);
    expectCommError([&] { comm.SetDTRState(true); }, "Port not open (Error: -1)", -1);
    expectCommError([&] { comm.SetRTSState(false); }, "Port not open (Error: -1)", -1);
    expectCommError([&] { comm.SetBREAKState(true); }, "Port not open (Error: -1)", -1);
    expectCommError([&] { comm.SetXONState(true); }, "Port not open (Error: -1)", -1);
}

TEST(CommLine, StatusOfAClosedPort) {
    TComm comm;
    EXPECT_EQ(comm.InQueCount(), -1);
    EXPECT_EQ(comm.OutQueCount(), -1);
    EXPECT_NO_THROW(comm.PurgeOut());
    EXPECT_NO_THROW(comm.CheckOpen());
    for (int which = 0; which <= 5; ++which) {
        EXPECT_FALSE(comm.GetModemState(which)) << which;
        EXPECT_FALSE(comm.GetComState(which)) << which;
    }
}

TEST_F(CommLineTest, CheckOpenRaisesOnAnOpenPort) {
    openPort();
    expectCommError([&] { comm.CheckOpen(); }, "Port already assigned (open) (Error: -1)", -1);
    comm.Close();
    EXPECT_NO_THROW(comm.CheckOpen());
}

TEST_F(CommLineTest, ModemLinesOfAPseudoTerminalAreRefusedWithTheEscapeError) {
    openPort();
    expectEscapeRefused([&] { comm.SetDTRState(true); });
    expectEscapeRefused([&] { comm.SetDTRState(false); });
    expectEscapeRefused([&] { comm.SetRTSState(true); });
    expectEscapeRefused([&] { comm.SetRTSState(false); });
    expectEscapeRefused([&] { comm.EscapeComm(SETDTR); });
    for (int which = 0; which <= 5; ++which) {
        EXPECT_FALSE(comm.GetModemState(which)) << which;
    }
    // The refusal leaves the port usable and unlocked.
    EXPECT_EQ(comm.Write("ok", 2), 2);
    EXPECT_EQ(pty.readMaster(2), "ok");
}

TEST_F(CommLineTest, EscapeCodesATtyDoesNotHaveAreRefused) {
    openPort();
    for (int32_t code : {0, 7, 10, -1}) {
        expectCommError([&] { comm.EscapeComm(code); },
                        "EscapeCommFunction failure (Error: " + std::to_string(EINVAL) + ")",
                        EINVAL);
    }
}

TEST_F(CommLineTest, XonXoffHoldAndReleaseTheOutput) {
    openPort();
    EXPECT_FALSE(comm.GetComState(4));
    comm.SetXONState(false); // SETXOFF: act as if the device had sent XOFF
    EXPECT_TRUE(comm.GetComState(4)) << "output held";
    // Every other index reports its own flag, and any unknown index the
    // CTS hold, none of which a pseudo-terminal has.
    for (int which : {0, 1, 2, 3, 5, 9, -4}) {
        EXPECT_FALSE(comm.GetComState(which)) << which;
    }
    comm.EscapeComm(SETXON);
    EXPECT_FALSE(comm.GetComState(4));
    EXPECT_EQ(comm.Write("on", 2), 2);
    EXPECT_EQ(pty.readMaster(2), "on");
    comm.EscapeComm(SETXOFF);
    EXPECT_TRUE(comm.GetComState(4));
    comm.SetXONState(true);
    EXPECT_FALSE(comm.GetComState(4));
}

TEST_F(CommLineTest, BreakPurgesBothQueues) {
    openPort();
    ASSERT_TRUE(pty.writeMaster("pending input"));
    ASSERT_TRUE(dispatcher.runUntil([&] { return comm.InQueCount() == 13; }, 2000));
    comm.SetBREAKState(true);
    EXPECT_EQ(comm.InQueCount(), 0);
    comm.SetBREAKState(false);
    EXPECT_EQ(comm.InQueCount(), 0);
    ASSERT_TRUE(pty.writeMaster("next"));
    char buf[8] = {};
    ASSERT_EQ(comm.Read(buf, sizeof buf), 4);
    EXPECT_EQ(std::string(buf, 4), "next");
}

TEST_F(CommLineTest, QueueCountsAndPurgeOut) {
    openPort();
    EXPECT_EQ(comm.InQueCount(), 0);
    EXPECT_EQ(comm.OutQueCount(), 0);
    ASSERT_TRUE(pty.writeMaster("1234567"));
    ASSERT_TRUE(dispatcher.runUntil([&] { return comm.InQueCount() == 7; }, 2000));
    EXPECT_EQ(comm.InQueCount(), 7);
    EXPECT_NO_THROW(comm.PurgeOut());
    EXPECT_EQ(comm.InQueCount(), 7) << "PurgeOut leaves the input alone";
    EXPECT_EQ(comm.OutQueCount(), 0);
}

TEST_F(CommLineTest, StatusOfAHungUpLine) {
    openPort();
    pty.closeMaster();
    EXPECT_EQ(comm.InQueCount(), 0);
    EXPECT_EQ(comm.OutQueCount(), 0);
    EXPECT_FALSE(comm.GetComState(0));
    try {
        comm.SetBREAKState(true);
        ADD_FAILURE() << "break on a hung-up line";
    } catch (const ECommError& e) {
        EXPECT_EQ(e.code(), EIO);
    }
}

TEST_F(CommLineTest, OutputHeldAtCloseIsReleasedForWhoeverOpensNext) {
    openPort();
    comm.SetXONState(false);
    comm.Close();
    comm.Open();
    ASSERT_TRUE(comm.Enabled());
    EXPECT_FALSE(comm.GetComState(4));
    EXPECT_EQ(comm.Write("free", 4), 4) << "the line stayed held after Close";
    EXPECT_EQ(pty.readMaster(4), "free");
}
