// Line configuration on a real pseudo-terminal: every rate (the odd ones
// through termios2), framing, special characters, time-outs, and which
// property changes reach an open line.
#include "comm_fixture.h"
#include "tty_probe.h"

#include <cerrno>
#include <thread>

class CommConfigTest : public CommPortTest {};

TEST_F(CommConfigTest, EveryRateReachesTheLine) {
    openPort();
    const uint32_t rates[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                              19200, 38400, 56000, 57600, 115200, 128000, 256000};
    for (int i = 0; i < 15; ++i) {
        // Go through another rate first, so that each member is a change.
        comm.SetBaudRate(i == 0 ? br300 : br110);
        comm.SetBaudRate(static_cast<TBaudRate>(i));
        TtyLine line = readTtyLine(pty.slaveFd);
        EXPECT_EQ(line.outputRate, rates[i]) << "member " << i;
        EXPECT_EQ(line.inputRate, 0u) << "input follows output, member " << i;
        EXPECT_EQ(comm.PortDcb().BaudRate, rates[i]);
    }
    for (TBaudRate odd : {br14400, br56000, br128000, br256000}) {
        comm.SetBaudRate(odd);
        EXPECT_TRUE(readTtyLine(pty.slaveFd).otherRate) << BaudRateValue(odd);
    }
    comm.SetBaudRate(br115200);
    EXPECT_FALSE(readTtyLine(pty.slaveFd).otherRate);
}

TEST_F(CommConfigTest, RateChosenBeforeOpenIsPutOnTheLineAtOpen) {
    comm.SetBaudRate(br256000);
    openPort();
    EXPECT_EQ(readTtyLine(pty.slaveFd).outputRate, 256000u);
    // Raw bytes still pass both ways at the odd rate.
    ASSERT_EQ(comm.Write("\x00\xff\r\n", 4), 4);
    EXPECT_EQ(pty.readMaster(4), std::string("\x00\xff\r\n", 4));
}

// A pseudo-terminal keeps every framing flag but two: it forces 8 data bits
// and no parity enable (PARENB) whatever it is told. The rest is read back
// from the line, those two from the control block the component wrote.
TEST_F(CommConfigTest, FramingReachesTheLine) {
    openPort();
    struct Case {
        TParity parity;
        bool odd, markSpace;
    };
    for (Case c : {Case{paOdd, true, false}, Case{paEven, false, false}, Case{paMark, true, true},
                   Case{paSpace, false, true}, Case{paNone, false, false}}) {
        comm.SetParity(c.parity);
        TtyLine line = readTtyLine(pty.slaveFd);
        EXPECT_EQ(line.parityOdd, c.odd) << "parity " << c.parity;
        EXPECT_EQ(line.markOrSpace, c.markSpace) << "parity " << c.parity;
        EXPECT_EQ(comm.PortDcb().Parity, static_cast<int>(c.parity));
    }
    for (TStopBits s : {sb20, sb15, sb10}) {
        comm.SetStopBits(s);
        EXPECT_EQ(readTtyLine(pty.slaveFd).twoStopBits, s != sb10) << "stop bits " << s;
        EXPECT_EQ(comm.PortDcb().StopBits, static_cast<int>(s));
    }
    for (TDataBits d : {da5, da6, da7, da8}) {
        EXPECT_NO_THROW(comm.SetDataBits(d));
        EXPECT_EQ(comm.PortDcb().ByteSize, 4 + static_cast<int>(d));
    }
    comm.SetOptions(TCommOptions{coParityCheck, coNullStrip});
    EXPECT_TRUE(readTtyLine(pty.slaveFd).inputParityCheck);
    EXPECT_TRUE(comm.PortDcb().fParity);
    EXPECT_TRUE(comm.PortDcb().fNull);
    EXPECT_FALSE(comm.PortDcb().fErrorChar);
    comm.SetOptions(TCommOptions{});
    EXPECT_FALSE(readTtyLine(pty.slaveFd).inputParityCheck);
    EXPECT_EQ(comm.PortDcb().XonLim, 1024);
    EXPECT_EQ(comm.PortDcb().XoffLim, 1024);
}

TEST_F(CommConfigTest, FourDataBitsAreRefusedByTheLine) {
    openPort();
    forceTtyRate(pty.slaveFd, 300);
    expectCommError([&] { comm.SetDataBits(da4); },
                    "Error updating DataControlBlock (Error: " + std::to_string(EINVAL) + ")",
                    EINVAL);
    EXPECT_EQ(comm.DataBits(), da4) << "the property keeps its new value";
    EXPECT_EQ(readTtyLine(pty.slaveFd).outputRate, 300u) << "a refused block is not half applied";

    // Opened with it, the port is open but watched by no thread until closed.
    comm.Close();
    expectCommError([&] { comm.Open(); },
                    "Error updating DataControlBlock (Error: " + std::to_string(EINVAL) + ")",
                    EINVAL);
    EXPECT_TRUE(comm.Enabled());
    EXPECT_EQ(comm.EventThread(), nullptr);
    comm.Close();
    EXPECT_FALSE(comm.Enabled());
    comm.SetDataBits(da8);
    comm.Open();
    EXPECT_NE(comm.EventThread(), nullptr);
}

TEST_F(CommConfigTest, ValuesOutsideTheEnumerationsAreRefused) {
    openPort();
    comm.SetBaudRate(br19200);
    try {
        comm.SetBaudRate(static_cast<TBaudRate>(15));
        ADD_FAILURE() << "rate index 15 accepted";
    } catch (const ECommError& e) {
        EXPECT_EQ(e.code(), -1);
        EXPECT_EQ(std::string(e.what()), "Invalid BaudRate value 15 (Error: -1)");
    }
    EXPECT_THROW(comm.SetBaudRate(static_cast<TBaudRate>(-3)), ECommError);
    EXPECT_THROW(comm.SetParity(static_cast<TParity>(5)), ECommError);
    EXPECT_THROW(comm.SetStopBits(static_cast<TStopBits>(3)), ECommError);
    EXPECT_THROW(comm.SetDataBits(static_cast<TDataBits>(9)), ECommError);
    EXPECT_THROW(comm.SetFlowControl(static_cast<TFlowControl>(5)), ECommError);
    EXPECT_EQ(comm.BaudRate(), br19200);
    EXPECT_EQ(readTtyLine(pty.slaveFd).outputRate, 19200u);
}

TEST_F(CommConfigTest, OpenOnlyPropertiesAreIgnoredWhileOpen) {
    openPort();
    const std::string path = pty.slavePath;
    comm.SetDeviceName("/dev/ttyS9");
    comm.SetReadBufSize(1024);
    comm.SetWriteBufSize(1024);
    comm.SetSuspendTime(77);
    comm.SetMonitorEvents(TCommEventTypes{evRxChar});
    EXPECT_EQ(comm.DeviceName(), path);
    EXPECT_EQ(comm.ReadBufSize(), 4096);
    EXPECT_EQ(comm.WriteBufSize(), 2048);
    EXPECT_EQ(comm.SuspendTime(), 5u);
    EXPECT_EQ(comm.MonitorEvents(), TCommEventTypes::All());

    // Line properties apply at once.
    comm.SetBaudRate(br57600);
    EXPECT_EQ(readTtyLine(pty.slaveFd).outputRate, 57600u);

    comm.Close();
    comm.SetReadBufSize(1024);
    comm.SetWriteBufSize(1024);
    comm.SetSuspendTime(77);
    comm.SetMonitorEvents(TCommEventTypes{evRxChar});
    EXPECT_EQ(comm.ReadBufSize(), 1024);
    EXPECT_EQ(comm.WriteBufSize(), 1024);
    EXPECT_EQ(comm.SuspendTime(), 77u);
    EXPECT_EQ(comm.MonitorEvents(), TCommEventTypes{evRxChar});
    comm.Open();
    ASSERT_NE(comm.EventThread(), nullptr);
    EXPECT_EQ(comm.EventThread()->SuspendTime(), 77u);
    EXPECT_EQ(comm.CommMask(), EV_RXCHAR);
}

TEST_F(CommConfigTest, SettingThePresentValueLeavesTheLineAlone) {
    openPort();
    forceTtyRate(pty.slaveFd, 300); // someone else changes the line
    comm.SetBaudRate(br9600);
    comm.SetParity(paNone);
    comm.SetStopBits(sb10);
    comm.SetDataBits(da8);
    comm.SetOptions(TCommOptions{});
    comm.SetFlowControl(fcDefault);
    EXPECT_EQ(readTtyLine(pty.slaveFd).outputRate, 300u) << "a same-value setter touched the line";

    comm.SetBaudRate(br19200);
    EXPECT_EQ(readTtyLine(pty.slaveFd).outputRate, 19200u);
}

TEST_F(CommConfigTest, FlowControlRewritesTheBlockAndLeavesNoHardwareFlow) {
    openPort();
    forceHardwareFlow(pty.slaveFd, true);
    forceTtyRate(pty.slaveFd, 300);
    comm.SetFlowControl(fcNone);
    TtyLine line = readTtyLine(pty.slaveFd);
    EXPECT_EQ(line.outputRate, 9600u) << "the change re-applies the control block";
    EXPECT_FALSE(line.hardwareFlow) << "a handshake the device does not have would silence it";
    EXPECT_EQ(comm.FlowControl(), fcNone);
    forceHardwareFlow(pty.slaveFd, false);
}

TEST_F(CommConfigTest, TimeoutsAreFixedAtOpenFromTheRate) {
    struct Case {
        TBaudRate rate;
        uint32_t multiplier;
    };
    for (Case c : {Case{br110, 174}, Case{br300, 64}, Case{br600, 32}, Case{br1200, 16},
                   Case{br2400, 8}, Case{br4800, 4}, Case{br9600, 2}, Case{br14400, 1},
                   Case{br19200, 1}, Case{br38400, 0}, Case{br115200, 0}, Case{br256000, 0}}) {
        comm.SetBaudRate(c.rate);
        openPort();
        const TCommTimeouts& t = comm.CommTimeouts();
        EXPECT_EQ(t.WriteTotalTimeoutMultiplier, c.multiplier) << BaudRateValue(c.rate);
        EXPECT_EQ(t.WriteTotalTimeoutConstant, 0u);
        EXPECT_EQ(t.ReadIntervalTimeout, 0xFFFFFFFFu);
        EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
        EXPECT_EQ(t.ReadTotalTimeoutConstant, 1000u);
        comm.Close();
    }
    comm.SetBaudRate(br9600);
    openPort();
    comm.SetBaudRate(br110);
    EXPECT_EQ(comm.CommTimeouts().WriteTotalTimeoutMultiplier, 2u)
        << "a later rate change keeps the write time-out computed at Open";
}

TEST(CommConfig, TimeoutsOfAClosedPortCannotBeSet) {
    TComm comm;
    expectCommError([&] { comm.UpdateCommTimeouts(); },
                    "Error updating CommTimeouts (Error: " + std::to_string(EBADF) + ")", EBADF);
    EXPECT_NO_THROW(comm.UpdateDataControlBlock()) << "does nothing while closed";
}

TEST_F(CommConfigTest, EventCharsReachTheLine) {
    openPort();
    EXPECT_EQ(readTtyLine(pty.slaveFd).vstart, 17);
    EXPECT_EQ(readTtyLine(pty.slaveFd).vstop, 19);
    comm.EventChars().SetEventChar(1, 0x05);
    comm.EventChars().SetEventChar(2, 0x06);
    comm.EventChars().SetEventChar(3, '?');
    comm.EventChars().SetEventChar(4, 0x1A);
    comm.EventChars().SetEventChar(5, '\r');
    TtyLine line = readTtyLine(pty.slaveFd);
    EXPECT_EQ(line.vstart, 0x05);
    EXPECT_EQ(line.vstop, 0x06);
    const TDcb& dcb = comm.PortDcb();
    EXPECT_EQ(dcb.XonChar, 0x05);
    EXPECT_EQ(dcb.XoffChar, 0x06);
    EXPECT_EQ(dcb.ErrorChar, '?');
    EXPECT_EQ(dcb.EofChar, 0x1A);
    EXPECT_EQ(dcb.EvtChar, '\r');
}

TEST_F(CommConfigTest, EventCharIndexSixChangesNothingButRewritesTheBlock) {
    openPort();
    forceTtyRate(pty.slaveFd, 300);
    comm.EventChars().SetEventChar(6, 'x');
    comm.EventChars().SetEventChar(0, 'y');
    const TCommEventChars& chars = comm.EventChars();
    EXPECT_EQ(chars.XOnChar(), 17);
    EXPECT_EQ(chars.XOffChar(), 19);
    EXPECT_EQ(chars.ErrorChar(), 0);
    EXPECT_EQ(chars.EofChar(), 0);
    EXPECT_EQ(chars.EvtChar(), 0);
    EXPECT_EQ(readTtyLine(pty.slaveFd).outputRate, 9600u);
}

TEST_F(CommConfigTest, AssignCopiesTheCharsWithoutTouchingTheLine) {
    openPort();
    TCommEventChars source(nullptr);
    source.SetEventChar(1, 'a');
    source.SetEventChar(2, 'b');
    source.SetEventChar(3, 'c');
    source.SetEventChar(4, 'd');
    source.SetEventChar(5, 'e');
    comm.EventChars().Assign(source);
    const TCommEventChars& chars = comm.EventChars();
    EXPECT_EQ(chars.XOnChar(), 'a');
    EXPECT_EQ(chars.XOffChar(), 'b');
    EXPECT_EQ(chars.ErrorChar(), 'c');
    EXPECT_EQ(chars.EofChar(), 'd');
    EXPECT_EQ(chars.EvtChar(), 'e');
    EXPECT_EQ(readTtyLine(pty.slaveFd).vstart, 17);
    comm.UpdateDataControlBlockLock();
    EXPECT_EQ(readTtyLine(pty.slaveFd).vstart, 'a');
}

TEST(CommConfig, EventCharsOfAClosedPortAreOnlyStored) {
    TComm comm;
    comm.EventChars().SetEventChar(5, '#');
    EXPECT_EQ(comm.EventChars().EvtChar(), '#');
}

TEST(CommConfig, MonitorEventsGiveTheEventMask) {
    EXPECT_EQ(TCommEventThread::MaskOf(TCommEventTypes{evRxChar, evRxFlag, evTxEmpty}), 7u);
    EXPECT_EQ(TCommEventThread::MaskOf(TCommEventTypes::All()), 0x1FFu);
    EXPECT_EQ(TCommEventThread::MaskOf(TCommEventTypes{evBreak, evError}), 0xC0u);
    EXPECT_EQ(TCommEventThread::MaskOf(TCommEventTypes{evCts, evDsr, evRlsd, evRing}), 0x138u);

    PtyPair pty;
    ManualDispatcher dispatcher;
    TComm comm{dispatcher};
    comm.SetDeviceName(pty.slavePath);
    comm.SetMonitorEvents(TCommEventTypes{evRxChar, evRxFlag, evTxEmpty});
    comm.Open();
    ASSERT_NE(comm.EventThread(), nullptr);
    EXPECT_EQ(comm.CommMask(), 7u);
    EXPECT_EQ(comm.EventThread()->WaitMask(), 7u);
}

TEST_F(CommConfigTest, EventCharRefusedByTheLineKeepsItsNewValue) {
    openPort();
    pty.closeMaster(); // a hung-up tty takes no settings
    expectCommError([&] { comm.EventChars().SetEventChar(1, 'q'); },
                    "Error updating DataControlBlock (Error: " + std::to_string(EIO) + ")", EIO);
    EXPECT_EQ(comm.EventChars().XOnChar(), 'q');
}

namespace {

// A port whose line hangs up between opening the device and configuring it.
class HangUpWhileOpening : public TComm {
  public:
    HangUpWhileOpening(PtyPair& pty, comm::TMainThreadDispatcher& dispatcher)
        : TComm(dispatcher), pty_(pty) {}
    void CreateHandle() override {
        TComm::CreateHandle();
        pty_.closeMaster();
    }

  private:
    PtyPair& pty_;
};

} // namespace

TEST(CommConfig, OpenThatCannotSetTheTimeoutsRaisesWithTheDeviceOpen) {
    PtyPair pty;
    ManualDispatcher dispatcher;
    HangUpWhileOpening comm(pty, dispatcher);
    comm.SetDeviceName(pty.slavePath);
    expectCommError([&] { comm.Open(); },
                    "Error updating CommTimeouts (Error: " + std::to_string(EIO) + ")", EIO);
    EXPECT_TRUE(comm.Enabled());
    EXPECT_EQ(comm.EventThread(), nullptr);
    // The lock was released on the way out: another thread gets through.
    int32_t written = -2;
    std::thread other([&] { written = comm.Write("x", 1); });
    other.join();
    EXPECT_EQ(written, 0);
    comm.Close();
    EXPECT_FALSE(comm.Enabled());
}
