// Opening and closing the serial port on real pseudo-terminals: exclusive
// use within and across processes, names that are no serial device, and
// the state the component leaves the tty in.
#include "comm_fixture.h"
#include "tests/support/device_holder.h"
#include "tty_probe.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

class CommOpenTest : public CommPortTest {};

namespace {

// Runs body in a forked child and returns its exit status (or -1).
int inChild(const std::function<int()>& body) {
    pid_t pid = ::fork();
    if (pid == 0) {
        ::_exit(body());
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

} // namespace

TEST(CommDefaults, PropertiesAfterConstruction) {
    TComm comm;
    EXPECT_EQ(comm.DeviceName(), "Com2");
    EXPECT_EQ(comm.ReadTimeout(), 1000);
    EXPECT_EQ(comm.WriteTimeout(), 1000);
    EXPECT_EQ(comm.ReadBufSize(), 4096);
    EXPECT_EQ(comm.WriteBufSize(), 2048);
    EXPECT_EQ(comm.SuspendTime(), 5u);
    EXPECT_EQ(comm.MonitorEvents(), TCommEventTypes::All());
    EXPECT_EQ(comm.BaudRate(), br9600);
    EXPECT_EQ(comm.Parity(), paNone);
    EXPECT_EQ(comm.StopBits(), sb10);
    EXPECT_EQ(comm.DataBits(), da8);
    EXPECT_TRUE(comm.Options().Empty());
    EXPECT_EQ(comm.FlowControl(), fcDefault);
    EXPECT_EQ(comm.EventChars().XOnChar(), 17);
    EXPECT_EQ(comm.EventChars().XOffChar(), 19);
    EXPECT_EQ(comm.EventChars().ErrorChar(), 0);
    EXPECT_EQ(comm.EventChars().EofChar(), 0);
    EXPECT_EQ(comm.EventChars().EvtChar(), 0);
    EXPECT_FALSE(comm.Enabled());
    EXPECT_EQ(comm.PortHandle(), -1);
    EXPECT_EQ(comm.EventThread(), nullptr);
}

TEST(CommDefaults, EnumerationOrdinalsAndRates) {
    EXPECT_EQ(static_cast<int>(br256000), 14);
    EXPECT_EQ(static_cast<int>(paSpace), 4);
    EXPECT_EQ(static_cast<int>(sb20), 2);
    EXPECT_EQ(static_cast<int>(da8), 4);
    EXPECT_EQ(static_cast<int>(fcDefault), 4);
    EXPECT_EQ(static_cast<int>(coNullStrip), 4);
    EXPECT_EQ(static_cast<int>(evTxEmpty), 8);
    const uint32_t rates[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                              19200, 38400, 56000, 57600, 115200, 128000, 256000};
    for (int i = 0; i < 15; ++i) {
        EXPECT_EQ(BaudRateValue(static_cast<TBaudRate>(i)), rates[i]) << "member " << i;
    }
    EXPECT_EQ(BaudRateValue(static_cast<TBaudRate>(15)), 0u);
    EXPECT_EQ(BaudRateValue(static_cast<TBaudRate>(-1)), 0u);
}

TEST(CommDefaults, EnumSetKeepsItsMembers) {
    TCommEventTypes set{evRxChar, evTxEmpty};
    EXPECT_TRUE(set.Contains(evRxChar));
    EXPECT_TRUE(set.Contains(evTxEmpty));
    EXPECT_FALSE(set.Contains(evRxFlag));
    EXPECT_EQ(set.Bits(), (1u << 6) | (1u << 8));
    set.Exclude(evRxChar);
    set.Include(evCts);
    EXPECT_EQ(set, (TCommEventTypes{evCts, evTxEmpty}));
    EXPECT_EQ(TCommEventTypes::All().Bits(), 0x1FF);
    EXPECT_EQ(TCommEventTypes::FromBits(0xFFFF), TCommEventTypes::All());
    EXPECT_FALSE(set.Contains(static_cast<TCommEventType>(12)));
    EXPECT_EQ(ECommError("Port not open", -1).what(), std::string("Port not open (Error: -1)"));
}

TEST_F(CommOpenTest, OpensAPseudoTerminalAndClosesIt) {
    openPort();
    EXPECT_GE(comm.PortHandle(), 0);
    ASSERT_NE(comm.EventThread(), nullptr);
    EXPECT_TRUE(comm.EventThread()->Running());
    EXPECT_EQ(comm.CommMask(), 0x1FFu);
    EXPECT_TRUE(ttyExclusive(pty.slaveFd));

    comm.Close();
    EXPECT_FALSE(comm.Enabled());
    EXPECT_EQ(comm.PortHandle(), -1);
    EXPECT_EQ(comm.EventThread(), nullptr);
    // Exclusive use ends with the component's use, though the tty lives on.
    EXPECT_FALSE(ttyExclusive(pty.slaveFd));
    comm.Close(); // closing a closed port does nothing

    comm.Open();
    EXPECT_TRUE(comm.Enabled()) << "a closed port opens again";
}

TEST_F(CommOpenTest, OpenedLineIsRawWithReadsThatNeverBlock) {
    openPort();
    TtyLine line = readTtyLine(pty.slaveFd);
    EXPECT_FALSE(line.canonical);
    EXPECT_FALSE(line.echo);
    EXPECT_FALSE(line.outputProcessing);
    EXPECT_TRUE(line.local);
    EXPECT_TRUE(line.receiverOn);
    EXPECT_EQ(line.vmin, 0);
    EXPECT_EQ(line.vtime, 0);
    EXPECT_EQ(line.outputRate, 9600u);
    EXPECT_EQ(line.dataBits, 8);
    EXPECT_FALSE(line.parityEnabled);
    EXPECT_FALSE(line.twoStopBits);
}

TEST(CommOpen, NamesThatAreNoSerialPortStayClosedWithoutError) {
    ManualDispatcher dispatcher;
    char dir[] = "/tmp/comm_open_XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    std::string plainFile = std::string(dir) + "/Com2";
    std::FILE* f = std::fopen(plainFile.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);

    for (std::string name :
         {std::string("Com2"), std::string("/dev/no-such-port"), std::string("/dev/null"),
          plainFile, std::string(dir), std::string("")}) {
        TComm comm{dispatcher};
        comm.SetDeviceName(name);
        EXPECT_NO_THROW(comm.Open()) << name;
        EXPECT_FALSE(comm.Enabled()) << name;
        EXPECT_EQ(comm.PortHandle(), -1) << name;
        EXPECT_EQ(comm.EventThread(), nullptr) << name;
    }
    std::remove(plainFile.c_str());
    ::rmdir(dir);
}

namespace {

// A device that passes the open but is no terminal once the line is set up:
// the descriptor is swapped for /dev/null behind the component's back.
class RefusesLineSettings : public TComm {
  public:
    using TComm::TComm;
    void CreateHandle() override {
        TComm::CreateHandle();
        if (PortHandle() >= 0) {
            const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
            ::dup2(null, PortHandle());
            ::close(null);
        }
    }
};

// The line hangs up between opening the device and configuring it.
class HangsUpWhileOpening : public TComm {
  public:
    HangsUpWhileOpening(PtyPair& pty, comm::TMainThreadDispatcher& d) : TComm(d), pty_(pty) {}
    void CreateHandle() override {
        TComm::CreateHandle();
        pty_.closeMaster();
    }

  private:
    PtyPair& pty_;
};

} // namespace

// Through the port interface every failed open keeps its reason and the
// system's error number, raises nothing, and leaves the port closed; the
// user reads the reason in Russian.
TEST_F(CommOpenTest, ThePortInterfaceSaysWhyAnOpenFailed) {
    comm::Port& port = comm;
    const comm::OpenResult opened = port.open(pty.slavePath);
    ASSERT_TRUE(opened.ok()) << opened.code;
    std::vector<uint32_t> announced;
    port.setReceivedHandler([&](uint32_t queued) { announced.push_back(queued); });
    ASSERT_TRUE(pty.writeMaster("OK\r"));
    ASSERT_TRUE(dispatcher.runUntil([&] { return !announced.empty(); }, 2000));
    EXPECT_EQ(announced[0], 3u);
    EXPECT_EQ(port.queuedInput(), 3);
    uint8_t buf[8] = {};
    EXPECT_EQ(port.read(buf, sizeof buf), 3);

    // Held by this port: a second one is refused as busy, and the owner
    // keeps its port.
    TComm second{dispatcher};
    comm::OpenResult r = second.open(pty.slavePath);
    EXPECT_EQ(r.error, comm::OpenError::Busy);
    EXPECT_EQ(r.code, EWOULDBLOCK);
    EXPECT_FALSE(second.isOpen());
    EXPECT_TRUE(ttyExclusive(pty.slaveFd));
    comm::OpenFailureText text = comm::describeOpenFailure(r, "COM3");
    EXPECT_EQ(text.status, "Порт COM3 занят");
    EXPECT_EQ(text.log, "Порт COM3 занят другой программой") << "this process is no other";
    EXPECT_EQ(second.write(buf, 1), -1);
    EXPECT_EQ(second.read(buf, 1), -1);
    EXPECT_EQ(second.queuedInput(), -1);

    r = second.open("/dev/vxrt7-no-such-port");
    EXPECT_EQ(r.error, comm::OpenError::NotFound);
    EXPECT_EQ(r.code, ENOENT);
    text = comm::describeOpenFailure(r, "COM3");
    EXPECT_EQ(text.status, "Порт COM3 занят");
    EXPECT_EQ(text.log, "Порт COM3 не открыт: устройство /dev/vxrt7-no-such-port не найдено");

    r = second.open("/dev/null");
    EXPECT_EQ(r.error, comm::OpenError::NotSerial);
    EXPECT_EQ(comm::describeOpenFailure(r, "COM3").log,
              "Порт COM3 не открыт: /dev/null не является последовательным портом");

    // A folder is named as one, not by its error number.
    r = second.open("/tmp");
    EXPECT_EQ(r.error, comm::OpenError::NotSerial);
    EXPECT_EQ(r.code, EISDIR);
    EXPECT_EQ(comm::describeOpenFailure(r, "COM3").log,
              "Порт COM3 не открыт: /tmp является папкой, а не последовательным портом");
    // What has no reason of its own says its error number.
    r = second.open("/" + std::string(5000, 'x'));
    EXPECT_EQ(r.error, comm::OpenError::Failed);
    EXPECT_EQ(comm::describeOpenFailure(r, "COM3").log,
              "Порт COM3 не открыт: ошибка " + std::to_string(ENAMETOOLONG));
    EXPECT_FALSE(second.isOpen());

    // The component's Open leaves a port whose line could not be set up
    // open without an event thread; the interface closes it again.
    comm.close();
    RefusesLineSettings refusing{dispatcher};
    r = refusing.open(pty.slavePath);
    EXPECT_EQ(r.error, comm::OpenError::LineSettingsRefused);
    EXPECT_EQ(r.code, ENOTTY);
    EXPECT_FALSE(refusing.isOpen());
    EXPECT_EQ(comm::describeOpenFailure(r, "COM3").log,
              "Порт COM3 не открыт: устройство " + pty.slavePath +
                  " не приняло настройки линии (ошибка " + std::to_string(ENOTTY) + ")");

    HangsUpWhileOpening hangingUp{pty, dispatcher};
    r = hangingUp.open(pty.slavePath);
    EXPECT_EQ(r.error, comm::OpenError::Gone);
    EXPECT_EQ(r.code, EIO);
    EXPECT_FALSE(hangingUp.isOpen());
    EXPECT_EQ(hangingUp.PortHandle(), -1);
}

TEST_F(CommOpenTest, SecondOpenOfAnOpenPortRaisesAndKeepsItOpen) {
    openPort();
    int handle = comm.PortHandle();
    expectCommError([&] { comm.Open(); }, "Port already assigned (open) (Error: -1)", -1);
    EXPECT_TRUE(comm.Enabled());
    EXPECT_EQ(comm.PortHandle(), handle);
    // Still working after the refused open.
    ASSERT_TRUE(pty.writeMaster("ok"));
    char buf[8] = {};
    EXPECT_EQ(comm.Read(buf, sizeof buf), 2);
}

TEST_F(CommOpenTest, SecondComponentInTheSameProcessCannotOpenIt) {
    openPort();
    TComm second{dispatcher};
    second.SetDeviceName(pty.slavePath);
    EXPECT_NO_THROW(second.Open());
    EXPECT_FALSE(second.Enabled());
    EXPECT_TRUE(ttyExclusive(pty.slaveFd)) << "the refused open freed the owner's port";

    comm.Close();
    second.Open();
    EXPECT_TRUE(second.Enabled()) << "free again once the first has closed it";
}

TEST_F(CommOpenTest, AnotherProcessCannotOpenItWhileOpen) {
    openPort();
    const std::string path = pty.slavePath;
    int childOpened = inChild([&] {
        ManualDispatcher d;
        TComm other{d};
        other.SetDeviceName(path);
        other.Open();
        return other.Enabled() ? 1 : 0;
    });
    EXPECT_EQ(childOpened, 0);

    comm.Close();
    childOpened = inChild([&] {
        ManualDispatcher d;
        TComm other{d};
        other.SetDeviceName(path);
        other.Open();
        bool opened = other.Enabled();
        other.Close();
        return opened ? 1 : 0;
    });
    EXPECT_EQ(childOpened, 1) << "a closed port is free for other programs";
}

TEST_F(CommOpenTest, PortLockedByAnotherProcessCannotBeOpened) {
    int toChild[2];
    int toParent[2];
    ASSERT_EQ(::pipe(toChild), 0);
    ASSERT_EQ(::pipe(toParent), 0);
    const std::string path = pty.slavePath;
    pid_t pid = ::fork();
    if (pid == 0) {
        // The child holds the line the way another program would.
        int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        char ok = (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0) ? 'L' : 'F';
        [[maybe_unused]] ssize_t w = ::write(toParent[1], &ok, 1);
        char go = 0;
        [[maybe_unused]] ssize_t r = ::read(toChild[0], &go, 1);
        ::_exit(0);
    }
    ASSERT_GT(pid, 0);
    char state = 0;
    ASSERT_EQ(::read(toParent[0], &state, 1), 1);
    ASSERT_EQ(state, 'L');

    comm.SetDeviceName(path);
    EXPECT_NO_THROW(comm.Open());
    EXPECT_FALSE(comm.Enabled());
    EXPECT_FALSE(ttyExclusive(pty.slaveFd)) << "the refused open took the other program's port";

    char go = 'x';
    ASSERT_EQ(::write(toChild[1], &go, 1), 1);
    int status = 0;
    ::waitpid(pid, &status, 0);
    for (int fd : {toChild[0], toChild[1], toParent[0], toParent[1]}) {
        ::close(fd);
    }
    comm.Open();
    EXPECT_TRUE(comm.Enabled()) << "the lock went with the other process";
}

// Root passes TIOCEXCL and not every program takes flock: a program that
// merely has the device open holds it all the same, for every user. The
// other end of a pseudo-terminal (a simulator keeping the slave open beside
// its master) and this process's own descriptors do not.
TEST_F(CommOpenTest, AProgramThatHasThePortOpenHoldsItEvenWithoutALock) {
    comm::Port& port = comm;
    {
        DeviceHolder holder(pty.slavePath);
        ASSERT_TRUE(holder.ok()) << holder.error();
        const std::string who = "sleep (pid " + std::to_string(holder.pid()) + ")";
        EXPECT_EQ(comm::otherHolder(pty.slavePath), who);
        const comm::OpenResult r = port.open(pty.slavePath);
        EXPECT_EQ(r.error, comm::OpenError::Busy);
        EXPECT_EQ(r.code, EWOULDBLOCK);
        EXPECT_EQ(r.holder, who);
        EXPECT_FALSE(port.isOpen());
        EXPECT_FALSE(ttyExclusive(pty.slaveFd)) << "the refused open touched the line";
        EXPECT_STREQ(comm::openErrorName(r.error), "busy");
        const comm::OpenFailureText text = comm::describeOpenFailure(r, "COM3");
        EXPECT_EQ(text.status, "Порт COM3 занят");
        EXPECT_EQ(text.log, "Порт COM3 занят программой " + who);
    }
    EXPECT_EQ(comm::otherHolder(pty.slavePath), "");
    ASSERT_TRUE(port.open(pty.slavePath).ok()) << "free once the other program has gone";
    port.close();

    // A process with the master of the pair besides the slave is the device
    // at the other end of the line.
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t otherEnd = ::fork();
    if (otherEnd == 0) {
        ::close(ready[0]);
        ::close(ready[1]); // holds the fixture's master and slave until killed
        ::pause();
        ::_exit(0);
    }
    ASSERT_GT(otherEnd, 0);
    ::close(ready[1]);
    char none = 0;
    EXPECT_EQ(::read(ready[0], &none, 1), 0); // the child has closed its end: it runs
    ::close(ready[0]);
    EXPECT_EQ(comm::otherHolder(pty.slavePath), "");
    const comm::OpenResult opened = port.open(pty.slavePath);
    ::kill(otherEnd, SIGKILL);
    ::waitpid(otherEnd, nullptr, 0);
    EXPECT_TRUE(opened.ok()) << comm::describeOpenFailure(opened, "COM3").log;

    // Names that are no character device are never looked for.
    EXPECT_EQ(comm::otherHolder("/tmp"), "");
    EXPECT_EQ(comm::otherHolder("/dev/vxrt7-no-such-port"), "");
}

TEST_F(CommOpenTest, OpenWithoutADispatcherRaisesAndStaysClosed) {
    TComm bare;
    bare.SetDeviceName(pty.slavePath);
    expectCommError([&] { bare.Open(); }, "No main thread dispatcher set (Error: -1)", -1);
    EXPECT_FALSE(bare.Enabled());
    EXPECT_FALSE(ttyExclusive(pty.slaveFd));
}

TEST_F(CommOpenTest, DestroyingAnOpenComponentClosesIt) {
    int calls = 0;
    {
        TComm temporary{dispatcher};
        temporary.OnRxChar = [&](TThreadComm*, uint32_t) { ++calls; };
        temporary.OnComStatEvent = [&](TThreadComm*, uint32_t, TComStat) { ++calls; };
        temporary.SetDeviceName(pty.slavePath);
        temporary.Open();
        ASSERT_TRUE(temporary.Enabled());
        ASSERT_TRUE(pty.writeMaster("x"));
        ASSERT_TRUE(dispatcher.waitForPost(2000));
    }
    // The delivery that was waiting when it went runs nothing.
    EXPECT_EQ(dispatcher.runPending(), 1);
    EXPECT_EQ(calls, 0);
    openPort();
}
