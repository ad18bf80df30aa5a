// A line that another program left with flow control on, or with its output
// stopped, must still carry the link; a device that stops reading must not
// hold the caller of Write for ever.
#include "tests/comm/comm_fixture.h"

#include <termios.h>

namespace {

using FlowControlTest = CommPortTest;

TEST_F(FlowControlTest, InheritedFlowControlIsSwitchedOffAndStoppedOutputRestarted) {
    termios t{};
    ASSERT_EQ(::tcgetattr(pty.slaveFd, &t), 0);
    t.c_cflag |= CRTSCTS;
    t.c_iflag |= IXON | IXOFF | IXANY;
    ASSERT_EQ(::tcsetattr(pty.slaveFd, TCSANOW, &t), 0);
    ASSERT_EQ(::tcflow(pty.slaveFd, TCOOFF), 0); // as a terminal program that got XOFF

    openPort();
    ASSERT_EQ(::tcgetattr(pty.slaveFd, &t), 0);
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY), 0u);
    EXPECT_EQ(comm.Write("CONFO\r", 6), 6);
    EXPECT_EQ(pty.readMaster(6), "CONFO\r");
    // An XOFF byte from the device is data now, not a stop.
    ASSERT_TRUE(pty.writeMaster("\x13"));
    EXPECT_EQ(comm.Write("R_OK\r", 5), 5);
    EXPECT_EQ(pty.readMaster(5), "R_OK\r");
}

TEST_F(FlowControlTest, AFullLineEndsTheWriteWithWhatWasTaken) {
    comm.SetBaudRate(br115200); // the program's rate: no time-out of its own
    openPort();
    // The master never reads: the pseudo-terminal's buffers fill and stay full.
    const std::string lots(256 * 1024, 'x');
    const std::int32_t taken = comm.Write(lots.data(), static_cast<std::uint32_t>(lots.size()));
    EXPECT_GT(taken, 0);
    EXPECT_LT(taken, static_cast<std::int32_t>(lots.size()));
    // Nothing else is held up: the next write returns too.
    EXPECT_GE(comm.Write("CONFO\r", 6), 0);
}

} // namespace
