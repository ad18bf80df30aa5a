// Throughput and cost of the serial port component on a pseudo-terminal
// pair: a megabyte each way, the events it takes, the CPU the event thread
// spends, and what an idle line costs. Prints figures; run by hand:
//   build/bin/comm_throughput [megabytes]
#include "comm/comm_event_thread.h"
#include "comm/tcomm.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <pty.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// The bench's main thread plays the window's thread.
class QueueDispatcher : public comm::TMainThreadDispatcher {
  public:
    void post(std::function<void()> call) override {
        {
            std::lock_guard<std::mutex> lock(m_);
            queue_.push_back(std::move(call));
            ++posted_;
        }
        cv_.notify_all();
    }
    // Runs what is queued, waiting up to waitMs for something to come.
    void pump(int waitMs) {
        std::deque<std::function<void()>> batch;
        {
            std::unique_lock<std::mutex> lock(m_);
            cv_.wait_for(lock, std::chrono::milliseconds(waitMs), [&] { return !queue_.empty(); });
            batch.swap(queue_);
        }
        for (auto& call : batch) {
            call();
        }
    }
    long posted() {
        std::lock_guard<std::mutex> lock(m_);
        return posted_;
    }

  private:
    std::mutex m_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> queue_;
    long posted_ = 0;
};

double threadCpuSeconds(pthread_t thread) {
    clockid_t clock;
    if (pthread_getcpuclockid(thread, &clock) != 0) {
        return -1;
    }
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void makeRaw(int fd) {
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &t);
}

struct Line {
    int master = -1;
    int slave = -1;
    std::string path;
    Line() {
        char name[256] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
            std::perror("openpty");
            std::exit(1);
        }
        path = name;
        makeRaw(master);
        makeRaw(slave);
    }
    ~Line() {
        close(master);
        close(slave);
    }
};

void report(const char* what, size_t bytes, double seconds, long events, double cpu) {
    std::printf("%-34s %8.1f MB/s  %8.3f s  %7ld events  event thread CPU %.3f s\n", what,
                static_cast<double>(bytes) / seconds / 1e6, seconds, events, cpu);
}

} // namespace

int main(int argc, char** argv) {
    const size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1;
    const size_t total = megabytes * 1024 * 1024;
    std::string data(total, '\0');
    for (size_t i = 0; i < total; ++i) {
        data[i] = static_cast<char>((i * 31) & 0xFF);
    }

    Line line;
    QueueDispatcher dispatcher;
    TComm comm{dispatcher};
    comm.SetDeviceName(line.path);
    comm.SetBaudRate(br115200);
    // As the main window configures its port.
    comm.SetMonitorEvents(TCommEventTypes{evRxChar, evRxFlag, evTxEmpty});
    long txEmpty = 0;
    comm.OnTxEmpty = [&](TThreadComm*) { ++txEmpty; };
    size_t received = 0;
    bool intact = true;
    std::string chunk;
    comm.OnRxChar = [&](TThreadComm* sender, uint32_t count) {
        chunk.resize(count);
        int32_t n = sender->Read(chunk.data(), count);
        for (int32_t i = 0; i < n; ++i) {
            intact = intact && chunk[i] == data[received + i];
        }
        received += n > 0 ? static_cast<size_t>(n) : 0;
    };
    comm.Open();
    if (!comm.Enabled()) {
        std::fprintf(stderr, "cannot open %s\n", line.path.c_str());
        return 1;
    }
    pthread_t events = comm.EventThread()->NativeHandle();

    // The component writes, the device reads on the master.
    {
        size_t got = 0;
        std::thread device([&] {
            std::string buf(65536, '\0');
            while (got < total) {
                pollfd p{line.master, POLLIN, 0};
                poll(&p, 1, 1000);
                ssize_t n = read(line.master, buf.data(), buf.size());
                if (n > 0) {
                    got += static_cast<size_t>(n);
                }
            }
        });
        long posted0 = dispatcher.posted();
        double cpu0 = threadCpuSeconds(events);
        auto start = Clock::now();
        for (size_t off = 0; off < total; off += 4096) {
            uint32_t n = static_cast<uint32_t>(std::min<size_t>(4096, total - off));
            comm.Write(data.data() + off, n);
            dispatcher.pump(0);
        }
        device.join();
        double seconds = secondsSince(start);
        dispatcher.pump(50);
        report("component writes, master reads", total, seconds, dispatcher.posted() - posted0,
               threadCpuSeconds(events) - cpu0);
        std::printf("%-34s %ld OnTxEmpty calls for %zu writes of 4096 bytes\n", "", txEmpty,
                    (total + 4095) / 4096);
    }

    // The device writes, the component reads what OnRxChar announces.
    {
        long posted0 = dispatcher.posted();
        double cpu0 = threadCpuSeconds(events);
        auto start = Clock::now();
        std::thread device([&] {
            int flags = fcntl(line.master, F_GETFL);
            fcntl(line.master, F_SETFL, flags & ~O_NONBLOCK);
            size_t off = 0;
            while (off < total) {
                ssize_t n =
                    write(line.master, data.data() + off, std::min<size_t>(65536, total - off));
                if (n > 0) {
                    off += static_cast<size_t>(n);
                }
            }
        });
        while (received < total && secondsSince(start) < 60) {
            dispatcher.pump(100);
        }
        device.join();
        double seconds = secondsSince(start);
        report("master writes, OnRxChar reads", received, seconds, dispatcher.posted() - posted0,
               threadCpuSeconds(events) - cpu0);
        std::printf("%-34s %zu of %zu bytes, %s\n", "", received, total,
                    intact ? "intact" : "CORRUPTED");
    }

    // An idle line.
    {
        long posted0 = dispatcher.posted();
        double cpu0 = threadCpuSeconds(events);
        auto start = Clock::now();
        while (secondsSince(start) < 2.0) {
            dispatcher.pump(100);
        }
        std::printf("%-34s %8.3f s  %7ld events  event thread CPU %.6f s\n", "idle line",
                    secondsSince(start), dispatcher.posted() - posted0,
                    threadCpuSeconds(events) - cpu0);
    }
    comm.Close();
    return 0;
}
