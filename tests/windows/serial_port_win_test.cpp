// The serial port component on the Windows communications interface, under
// Wine, against the simulator behind a COM port: the event thread's
// announcements on the test's thread (playing the window's), reads with the
// design's time-outs, the exclusive open and its reasons, the port list, and
// a close that silences what is still queued.
#include "comm/comm_event_thread.h"
#include "comm/port.h"
#include "comm/port_discovery.h"
#include "comm/port_names.h"
#include "comm/port_state.h"
#include "comm/tcomm.h"
#include "tests/support/manual_dispatcher.h"
#include "tests/windows/win_test_env.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <thread>
#include <vector>
// After the component's headers (comm/tcomm_win.cpp says why).
#include <windows.h>

namespace {

constexpr int kWaitMs = 10000;

bool listed(const std::vector<std::string>& ports, const std::string& name) {
    return std::find(ports.begin(), ports.end(), name) != ports.end();
}

struct Announcements {
    std::vector<uint32_t> counts;
    int txEmpty = 0;
    int comStat = 0;
    bool offThread = false;
};

void watch(TComm& comm, Announcements& seen) {
    const auto self = std::this_thread::get_id();
    comm.OnRxChar = [&seen, self](TThreadComm*, uint32_t count) {
        seen.counts.push_back(count);
        seen.offThread = seen.offThread || std::this_thread::get_id() != self;
    };
    comm.OnTxEmpty = [&seen](TThreadComm*) { ++seen.txEmpty; };
    comm.OnComStatEvent = [&seen](TThreadComm*, uint32_t, TComStat) { ++seen.comStat; };
}

// The greeting the simulated device answers "CONFO" with.
bool isGreeting(const std::string& reply) {
    return reply.size() == 10 && reply.rfind("VELIRAN ", 0) == 0 && reply.back() == '#';
}

} // namespace

TEST(SerialPortOnWindows, AnnouncesRepliesOnTheWindowsThreadAndReadsThem) {
    REQUIRE_TEST_PORTS();
    ManualDispatcher dispatcher;
    TComm comm(dispatcher);
    comm.SetBaudRate(br115200);
    comm.SetReadBufSize(1024);
    comm.SetWriteBufSize(1024);
    comm.SetMonitorEvents({evRxChar, evRxFlag, evTxEmpty});
    Announcements seen;
    watch(comm, seen);

    const comm::OpenResult opened = comm.open(devicePathForPort(simulatorPort()));
    ASSERT_TRUE(opened.ok()) << comm::describeOpenFailure(opened, simulatorPort()).log;
    EXPECT_EQ(opened.device, "\\\\.\\" + simulatorPort());
    // The monitored events are the port's event mask (EV_RXCHAR, EV_RXFLAG,
    // EV_TXEMPTY), and the control block carries the rate.
    EXPECT_EQ(comm.CommMask(), 7u);
    EXPECT_EQ(comm.PortDcb().BaudRate, 115200u);
    ASSERT_NE(comm.EventThread(), nullptr);
    EXPECT_TRUE(comm.EventThread()->Running());

    // Nothing queued: the read gives up after its time-out with nothing.
    uint8_t buffer[64];
    EXPECT_EQ(comm.read(buffer, sizeof buffer), 0);
    EXPECT_EQ(comm.queuedInput(), 0);

    ASSERT_EQ(comm.write(reinterpret_cast<const uint8_t*>("CONFO"), 5), 5);
    // The reply is announced on this thread, through the dispatcher, until
    // all of it is queued; each count is all that is unread.
    ASSERT_TRUE(dispatcher.runUntil(
        [&] { return !seen.counts.empty() && seen.counts.back() >= 10; }, kWaitMs))
        << "announced: " << seen.counts.size();
    EXPECT_FALSE(seen.offThread);
    EXPECT_TRUE(std::is_sorted(seen.counts.begin(), seen.counts.end()));
    EXPECT_EQ(comm.queuedInput(), 10);
    EXPECT_GE(seen.comStat, static_cast<int>(seen.counts.size()));
    // The write drained: the output queue reported empty.
    EXPECT_TRUE(dispatcher.runUntil([&] { return seen.txEmpty > 0; }, kWaitMs));

    const int got = comm.read(buffer, sizeof buffer);
    ASSERT_EQ(got, 10);
    EXPECT_TRUE(isGreeting(std::string(reinterpret_cast<char*>(buffer), 10)));
    EXPECT_EQ(comm.queuedInput(), 0);

    // Bytes that sit unread are announced once, not again and again; the
    // input purge throws them away.
    seen.counts.clear();
    ASSERT_EQ(comm.write(reinterpret_cast<const uint8_t*>("CONFO"), 5), 5);
    ASSERT_TRUE(dispatcher.runUntil(
        [&] { return !seen.counts.empty() && seen.counts.back() >= 10; }, kWaitMs));
    const std::size_t announced = seen.counts.size();
    dispatcher.runUntil([] { return false; }, 300);
    EXPECT_EQ(seen.counts.size(), announced);
    comm.discardInput();
    EXPECT_EQ(comm.queuedInput(), 0);
    EXPECT_EQ(comm.read(buffer, sizeof buffer), 0);

    comm.close();
    EXPECT_FALSE(comm.isOpen());
    EXPECT_EQ(comm.PortHandle(), -1);
    EXPECT_EQ(comm.write(buffer, 1), -1);
    EXPECT_EQ(comm.read(buffer, 1), -1);
    EXPECT_EQ(comm.queuedInput(), -1);
}

TEST(SerialPortOnWindows, ListsThePortsAndSaysWhyAnOpenFailed) {
    REQUIRE_TEST_PORTS();
    ManualDispatcher dispatcher;
    const std::string port = simulatorPort();
    // The simulator's port is found by the test opens (Wine lists no
    // SERIALCOMM entry for it), the absent one is not.
    const std::vector<std::string> free = Find_Ports();
    EXPECT_TRUE(listed(free, port));
    EXPECT_FALSE(listed(free, absentPort()));
    EXPECT_TRUE(std::is_sorted(free.begin(), free.end(), portNameLess));
    bool described = false;
    for (const PortStatus& p : describePorts()) {
        described = described || (p.name == port && p.path == port && p.access == PortAccess::Free);
        EXPECT_NE(p.name, absentPort());
    }
    EXPECT_TRUE(described);

    TComm comm(dispatcher);
    const comm::OpenResult absent = comm.open(devicePathForPort(absentPort()));
    EXPECT_EQ(absent.error, comm::OpenError::NotFound) << absent.code;
    EXPECT_EQ(comm::describeOpenFailure(absent, absentPort()).log,
              "Порт " + absentPort() + " не открыт: устройство \\\\.\\" + absentPort() +
                  " не найдено");
    EXPECT_FALSE(comm.isOpen());

    // A file is no port. And one that another handle holds without sharing
    // refuses the open as a COM port that another program has open does on
    // Windows (Wine's serial driver does not keep a second open out).
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / "vxrt7-not-a-port.txt";
    { std::ofstream(file) << "not a port"; }
    const std::string name = file.string();
    const comm::OpenResult notSerial = comm.open(name);
    EXPECT_EQ(notSerial.error, comm::OpenError::NotSerial) << notSerial.code;
    EXPECT_FALSE(comm.isOpen());
    HANDLE held = ::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const comm::OpenResult busy = comm.open(name);
    EXPECT_EQ(busy.error, comm::OpenError::Busy) << busy.code;
    EXPECT_EQ(comm::describeOpenFailure(busy, "COM7").status, "Порт COM7 занят");
    EXPECT_EQ(comm::describeOpenFailure(busy, "COM7").log, "Порт COM7 занят другой программой");
    EXPECT_EQ(probePorts({{name, false}}).front().access, PortAccess::Busy);
    ::CloseHandle(held);
    EXPECT_EQ(probePorts({{name, false}}).front().access, PortAccess::NotSerial);
    std::filesystem::remove(file);
}

TEST(SerialPortOnWindows, NothingIsAnnouncedAfterCloseAndThePortOpensAgain) {
    REQUIRE_TEST_PORTS();
    ManualDispatcher dispatcher;
    Announcements seen;
    {
        TComm comm(dispatcher);
        watch(comm, seen);
        ASSERT_TRUE(comm.open(devicePathForPort(simulatorPort())).ok());
        ASSERT_EQ(comm.write(reinterpret_cast<const uint8_t*>("CONFO"), 5), 5);
        // The reply's announcement is queued for this thread, not yet run.
        ASSERT_TRUE(dispatcher.waitForPost(kWaitMs));
        comm.close();
        EXPECT_EQ(comm.EventThread(), nullptr);
    }
    dispatcher.runUntil([] { return false; }, 300);
    EXPECT_TRUE(seen.counts.empty());
    EXPECT_EQ(seen.comStat, 0);

    // The port is free for the next one, and the bytes of the reply that
    // nobody read are still there to be purged.
    TComm again(dispatcher);
    ASSERT_TRUE(again.open(devicePathForPort(simulatorPort())).ok());
    again.discardInput();
    EXPECT_EQ(again.queuedInput(), 0);
}
