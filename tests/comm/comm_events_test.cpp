// The port event thread on a real pseudo-terminal: what it announces, in
// which order the handlers run, on which thread, and that Close and a
// hang-up stop it cleanly, without a handler running late or a thread
// spinning.
#include "comm_fixture.h"

#include <atomic>
#include <chrono>
#include <ctime>
#include <pthread.h>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

class CommEventsTest : public CommPortTest {};

namespace {

using Clock = std::chrono::steady_clock;

long long msSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// CPU time the thread has used so far, in ms.
double threadCpuMs(pthread_t thread) {
    clockid_t clock;
    if (pthread_getcpuclockid(thread, &clock) != 0) {
        return -1;
    }
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// Plays the window's thread for ms milliseconds.
void pumpFor(ManualDispatcher& d, int ms) {
    auto start = Clock::now();
    d.runUntil([&] { return msSince(start) >= ms; }, ms + 1000);
}

// Records every handler call as a short name, in order.
void recordAll(TThreadComm& comm, std::vector<std::string>& log) {
    comm.OnBreak = [&](TThreadComm*) { log.push_back("break"); };
    comm.OnCts = [&](TThreadComm*) { log.push_back("cts"); };
    comm.OnDsr = [&](TThreadComm*) { log.push_back("dsr"); };
    comm.OnError = [&](TThreadComm*, int32_t errors) {
        log.push_back("error" + std::to_string(errors));
    };
    comm.OnRing = [&](TThreadComm*) { log.push_back("ring"); };
    comm.OnRlsd = [&](TThreadComm*) { log.push_back("rlsd"); };
    comm.OnRxChar = [&](TThreadComm*, uint32_t count) {
        log.push_back("rx" + std::to_string(count));
    };
    comm.OnRxFlag = [&](TThreadComm*) { log.push_back("rxflag"); };
    comm.OnTxEmpty = [&](TThreadComm*) { log.push_back("tx"); };
    comm.OnComStatEvent = [&](TThreadComm*, uint32_t status, TComStat stat) {
        log.push_back("stat" + std::to_string(status) + "/" + std::to_string(stat.cbInQue));
    };
}

} // namespace

TEST_F(CommEventsTest, RxCharCountsBytesNotYetReadAcrossEvents) {
    std::vector<uint32_t> counts;
    comm.OnRxChar = [&](TThreadComm* sender, uint32_t count) {
        EXPECT_EQ(sender, &comm);
        counts.push_back(count);
    };
    openPort();
    ASSERT_TRUE(pty.writeMaster("abc"));
    ASSERT_TRUE(dispatcher.runUntil([&] { return !counts.empty(); }, 2000));
    ASSERT_TRUE(pty.writeMaster("de"));
    ASSERT_TRUE(dispatcher.runUntil([&] { return counts.size() >= 2; }, 2000));
    EXPECT_EQ(counts[0], 3u);
    EXPECT_EQ(counts[1], 5u) << "the second event counts the three unread bytes too";

    char buf[8];
    ASSERT_EQ(comm.Read(buf, sizeof buf), 5);
    ASSERT_TRUE(pty.writeMaster("f"));
    ASSERT_TRUE(dispatcher.runUntil([&] { return counts.size() >= 3; }, 2000));
    EXPECT_EQ(counts[2], 1u);
}

TEST_F(CommEventsTest, UnreadBytesAreNotAnnouncedAgainAndAgain) {
    int events = 0;
    comm.OnRxChar = [&](TThreadComm*, uint32_t) { ++events; };
    openPort();
    ASSERT_TRUE(pty.writeMaster("hello"));
    ASSERT_TRUE(dispatcher.runUntil([&] { return events > 0; }, 2000));
    pumpFor(dispatcher, 300);
    EXPECT_EQ(events, 1) << "the same unread bytes were announced again";
    ASSERT_NE(comm.EventThread(), nullptr);
    EXPECT_LT(threadCpuMs(comm.EventThread()->NativeHandle()), 100.0);
}

TEST_F(CommEventsTest, MoreThanThePtyHoldsIsAnnouncedPieceByPiece) {
    std::string received;
    int events = 0;
    comm.OnRxChar = [&](TThreadComm* sender, uint32_t count) {
        ++events;
        std::string chunk(count, '\0');
        int32_t n = sender->Read(chunk.data(), count);
        ASSERT_GT(n, 0);
        received.append(chunk.data(), static_cast<std::size_t>(n));
    };
    openPort();
    std::string data(20000, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<char>(i % 253);
    }
    std::thread device([&] { pty.writeMaster(data, 10000); });
    bool all = dispatcher.runUntil([&] { return received.size() >= data.size(); }, 10000);
    device.join();
    ASSERT_TRUE(all) << "announced " << received.size() << " of " << data.size();
    EXPECT_TRUE(received == data);
    EXPECT_GT(events, 1) << "a pseudo-terminal holds at most 4095 bytes at once";
}

TEST_F(CommEventsTest, EventForAnEmptiedQueueCallsOnlyComStat) {
    std::vector<std::string> log;
    recordAll(comm, log);
    openPort();
    ASSERT_TRUE(pty.writeMaster("xyz"));
    ASSERT_TRUE(dispatcher.waitForPost(2000));
    // The window reads the bytes before it gets to the event.
    char buf[8];
    ASSERT_EQ(comm.Read(buf, sizeof buf), 3);
    dispatcher.runPending();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[0], "stat1/0");
    EXPECT_EQ(log.size(), 1u) << log.back();
}

TEST_F(CommEventsTest, HandlersRunInTheirFixedOrder) {
    std::vector<std::string> log;
    recordAll(comm, log);
    openPort();
    ASSERT_TRUE(pty.writeMaster("12"));
    ASSERT_TRUE(dispatcher.runUntil([&] { return comm.InQueCount() == 2; }, 2000));
    dispatcher.runPending();
    log.clear();
    comm.HandleCommEvent(nullptr, 0x1FF);
    EXPECT_EQ(log, (std::vector<std::string>{"break", "cts", "dsr", "error0", "ring", "rlsd", "rx2",
                                             "rxflag", "tx", "stat511/2"}));
    log.clear();
    comm.HandleCommEvent(nullptr, EV_TXEMPTY | EV_RXCHAR);
    EXPECT_EQ(log, (std::vector<std::string>{"rx2", "tx", "stat5/2"}));
}

TEST_F(CommEventsTest, ReceiveAndDrainInOneWaitCallRxCharBeforeTxEmpty) {
    std::vector<std::string> log;
    recordAll(comm, log);
    openPort();
    ASSERT_TRUE(pty.writeMaster("a"));
    // The event thread now waits for the window's thread; meanwhile the
    // program writes and the device sends again, so the next wait finds
    // both at once.
    ASSERT_TRUE(dispatcher.waitForPost(2000));
    ASSERT_EQ(comm.Write("w", 1), 1);
    ASSERT_TRUE(pty.writeMaster("b"));
    auto start = Clock::now();
    while (comm.InQueCount() < 2 && msSince(start) < 2000) {
        std::this_thread::yield();
    }
    ASSERT_TRUE(dispatcher.runUntil(
        [&] { return !log.empty() && log.back().rfind("stat5/", 0) == 0; }, 2000))
        << (log.empty() ? "" : log.back());
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[log.size() - 3], "rx2");
    EXPECT_EQ(log[log.size() - 2], "tx");
}

TEST_F(CommEventsTest, TxEmptyFollowsAWriteWhenMonitored) {
    int empties = 0;
    comm.OnTxEmpty = [&](TThreadComm*) { ++empties; };
    openPort();
    ASSERT_EQ(comm.Write("CONFO", 5), 5);
    ASSERT_TRUE(dispatcher.runUntil([&] { return empties == 1; }, 2000));
    EXPECT_EQ(pty.readMaster(5), "CONFO");

    comm.Close();
    comm.SetMonitorEvents(TCommEventTypes{evRxChar});
    comm.Open();
    std::size_t before = dispatcher.postedCount();
    ASSERT_EQ(comm.Write("CONFO", 5), 5);
    pumpFor(dispatcher, 200);
    EXPECT_EQ(dispatcher.postedCount(), before) << "an unmonitored event was delivered";
    EXPECT_EQ(empties, 1);
}

TEST_F(CommEventsTest, CloseWhileADeliveryWaitsDeliversNothing) {
    std::vector<std::string> log;
    recordAll(comm, log);
    openPort();
    ASSERT_TRUE(pty.writeMaster("late"));
    ASSERT_TRUE(dispatcher.waitForPost(2000));
    auto start = Clock::now();
    comm.Close(); // on the window's thread, the event thread waiting for it
    EXPECT_LT(msSince(start), 3000);
    EXPECT_FALSE(comm.Enabled());
    EXPECT_EQ(comm.EventThread(), nullptr);
    EXPECT_EQ(dispatcher.runPending(), 1);
    EXPECT_TRUE(log.empty()) << log.front();
}

TEST_F(CommEventsTest, CloseFromAnotherThreadWaitsForTheRunningHandler) {
    std::atomic<bool> inHandler{false};
    std::atomic<bool> release{false};
    std::atomic<bool> handlerDone{false};
    int32_t readInHandler = -2;
    comm.OnRxChar = [&](TThreadComm* sender, uint32_t) {
        inHandler = true;
        auto start = Clock::now();
        while (!release && msSince(start) < 5000) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        // The handler still uses the port; Close must not hold it locked
        // while it waits for this handler.
        char buf[8];
        readInHandler = sender->Read(buf, sizeof buf);
        handlerDone = true;
    };
    openPort();
    bool doneWhenCloseReturned = false;
    std::thread closer([&] {
        while (!inHandler) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::thread releaser([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            release = true;
        });
        comm.Close();
        doneWhenCloseReturned = handlerDone;
        releaser.join();
    });
    ASSERT_TRUE(pty.writeMaster("ab"));
    EXPECT_TRUE(dispatcher.runUntil([&] { return handlerDone.load(); }, 5000));
    closer.join();
    EXPECT_TRUE(doneWhenCloseReturned) << "Close returned while a handler was running";
    EXPECT_EQ(readInHandler, 2);
    EXPECT_FALSE(comm.Enabled());
}

TEST_F(CommEventsTest, CloseInsideAHandlerStopsTheRemainingHandlers) {
    std::vector<std::string> log;
    recordAll(comm, log);
    comm.OnRxChar = [&](TThreadComm* sender, uint32_t) {
        log.push_back("rx");
        sender->Close();
    };
    openPort();
    ASSERT_TRUE(pty.writeMaster("bye"));
    ASSERT_TRUE(dispatcher.runUntil([&] { return !comm.Enabled(); }, 2000));
    EXPECT_EQ(log, std::vector<std::string>{"rx"});
    EXPECT_EQ(comm.EventThread(), nullptr);

    // An event with two handlers due: the second stays silent.
    log.clear();
    comm.Open();
    ASSERT_TRUE(comm.Enabled());
    ASSERT_TRUE(pty.writeMaster("x"));
    ASSERT_TRUE(dispatcher.waitForPost(2000));
    comm.HandleCommEvent(nullptr, EV_RXCHAR | EV_TXEMPTY);
    EXPECT_FALSE(comm.Enabled());
    EXPECT_EQ(log, std::vector<std::string>{"rx"});
    dispatcher.runPending();
    EXPECT_EQ(log, std::vector<std::string>{"rx"}) << "the queued event ran after Close";
}

TEST_F(CommEventsTest, AHandlerThatRaisesEndsTheEventThreadOnly) {
    int calls = 0;
    comm.OnRxChar = [&](TThreadComm*, uint32_t) {
        ++calls;
        throw std::runtime_error("handler failed");
    };
    openPort();
    ASSERT_TRUE(pty.writeMaster("1"));
    ASSERT_TRUE(dispatcher.runUntil([&] { return calls == 1; }, 2000));
    TCommEventThread* thread = comm.EventThread();
    ASSERT_NE(thread, nullptr);
    auto start = Clock::now();
    while (thread->Running() && msSince(start) < 2000) {
        std::this_thread::yield();
    }
    EXPECT_FALSE(thread->Running());
    ASSERT_TRUE(thread->FatalException() != nullptr);
    EXPECT_THROW(std::rethrow_exception(thread->FatalException()), std::runtime_error);

    ASSERT_TRUE(pty.writeMaster("2"));
    pumpFor(dispatcher, 200);
    EXPECT_EQ(calls, 1) << "no further events once a handler has raised";
    EXPECT_TRUE(comm.Enabled());

    comm.Close();
    comm.OnRxChar = [&](TThreadComm*, uint32_t) { ++calls; };
    comm.Open();
    ASSERT_TRUE(pty.writeMaster("3"));
    EXPECT_TRUE(dispatcher.runUntil([&] { return calls == 2; }, 2000))
        << "closing and opening again brings the events back";
}

TEST_F(CommEventsTest, HandlersRunOnTheDispatchersThread) {
    std::thread::id ranOn;
    comm.OnRxChar = [&](TThreadComm*, uint32_t) { ranOn = std::this_thread::get_id(); };
    openPort();
    ASSERT_TRUE(pty.writeMaster("?"));
    ASSERT_TRUE(dispatcher.runUntil([&] { return ranOn != std::thread::id(); }, 2000));
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST_F(CommEventsTest, HangUpIsReportedOnceAndTheThreadThenIdles) {
    int lost = 0;
    int rx = 0;
    comm.OnLineLost = [&](TThreadComm* sender) {
        EXPECT_EQ(sender, &comm);
        ++lost;
    };
    comm.OnRxChar = [&](TThreadComm*, uint32_t) { ++rx; };
    openPort();
    TCommEventThread* thread = comm.EventThread();
    ASSERT_NE(thread, nullptr);
    pthread_t native = thread->NativeHandle();

    pty.closeMaster(); // the device goes away
    ASSERT_TRUE(dispatcher.runUntil([&] { return lost == 1; }, 2000));
    double cpuBefore = threadCpuMs(native);
    pumpFor(dispatcher, 300);
    double cpuAfter = threadCpuMs(native);
    EXPECT_EQ(lost, 1) << "the hang-up was reported more than once";
    EXPECT_EQ(rx, 0);
    EXPECT_LT(cpuAfter - cpuBefore, 50.0) << "the event thread spins on a hung-up line";
    EXPECT_TRUE(thread->Running()) << "it waits for Close";
    EXPECT_TRUE(comm.Enabled()) << "the owner closes the port";

    auto start = Clock::now();
    comm.Close();
    EXPECT_LT(msSince(start), 3000);
    EXPECT_FALSE(comm.Enabled());
}

TEST_F(CommEventsTest, AnIdleLineCostsTheEventThreadNoTime) {
    openPort();
    pthread_t native = comm.EventThread()->NativeHandle();
    double cpuBefore = threadCpuMs(native);
    pumpFor(dispatcher, 300);
    EXPECT_LT(threadCpuMs(native) - cpuBefore, 20.0);
    EXPECT_EQ(dispatcher.postedCount(), 0u);
}
