// The program's dispatcher: the serial port's events run on the window's
// thread through the Qt event loop, and none runs after Close.
#include "comm/main_thread_dispatcher_qt.h"
#include "comm_fixture.h"

#include <QCoreApplication>
#include <QObject>
#include <QThread>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

long long msSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

} // namespace

namespace {

class CountingQtDispatcher : public QtMainThreadDispatcher {
  public:
    using QtMainThreadDispatcher::QtMainThreadDispatcher;
    void post(std::function<void()> call) override {
        ++posted;
        QtMainThreadDispatcher::post(std::move(call));
    }
    std::atomic<int> posted{0};
};

bool processEventsUntil(const std::function<bool()>& pred, int timeoutMs) {
    auto start = Clock::now();
    while (!pred() && msSince(start) < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return pred();
}

} // namespace

TEST(CommQtDispatcher, EventsRunOnTheWindowThreadThroughTheEventLoop) {
    PtyPair pty;
    QObject window;
    CountingQtDispatcher dispatcher(&window);
    TComm comm{dispatcher};
    std::vector<uint32_t> counts;
    bool onWindowThread = false;
    comm.OnRxChar = [&](TThreadComm*, uint32_t count) {
        onWindowThread = QThread::currentThread() == window.thread();
        counts.push_back(count);
    };
    comm.SetDeviceName(pty.slavePath);
    comm.Open();
    ASSERT_TRUE(comm.Enabled());
    ASSERT_TRUE(pty.writeMaster("CONFO"));
    ASSERT_TRUE(processEventsUntil([&] { return !counts.empty(); }, 2000));
    EXPECT_EQ(counts[0], 5u);
    EXPECT_TRUE(onWindowThread);
}

TEST(CommQtDispatcher, CloseDropsAnEventStillQueuedInTheEventLoop) {
    PtyPair pty;
    QObject window;
    CountingQtDispatcher dispatcher(&window);
    TComm comm{dispatcher};
    int calls = 0;
    comm.OnRxChar = [&](TThreadComm*, uint32_t) { ++calls; };
    comm.OnComStatEvent = [&](TThreadComm*, uint32_t, TComStat) { ++calls; };
    comm.SetDeviceName(pty.slavePath);
    comm.Open();
    ASSERT_TRUE(comm.Enabled());
    ASSERT_TRUE(pty.writeMaster("x"));
    auto start = Clock::now();
    while (dispatcher.posted == 0 && msSince(start) < 2000) {
        std::this_thread::yield();
    }
    ASSERT_EQ(dispatcher.posted, 1);
    comm.Close();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 0);
}
