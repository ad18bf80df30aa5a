// The moment a window is first drawn, measured the same way for every window
// the start-up benchmark compares. The probe application sees every event;
// it notes the first QEvent::Paint sent to the watched window or one of its
// children, and the window counts as drawn when the outermost event dispatch
// that contained that paint returns (on the offscreen platform: the window's
// first Expose, during which every widget is painted into the backing store
// and the store is flushed).
//
// A probe prints one line on stdout and quits:
//   first_paint main=NS app=NS window=NS shown=NS painted=NS cpu=NS hwm_kb=KB outer=TYPE
// The times are CLOCK_MONOTONIC nanoseconds (comparable with the launcher's
// clock); cpu is the CPU time this process had used by then (all threads,
// from its creation: exec and the dynamic loader included); hwm_kb is VmHWM of this process when
// the window had been drawn. With FIRST_PAINT_SMAPS=FILE in the environment the probe also copies
// its /proc/self/smaps to FILE at that moment.
#pragma once

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace first_paint {

inline std::int64_t clockNs(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return std::int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}
inline std::int64_t monotonicNs() {
    return clockNs(CLOCK_MONOTONIC);
}

// VmHWM of this process in KiB, or -1.
inline long highWaterKb() {
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) {
        return -1;
    }
    char line[256];
    long kb = -1;
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, "VmHWM:", 6) == 0) {
            kb = std::strtol(line + 6, nullptr, 10);
            break;
        }
    }
    std::fclose(f);
    return kb;
}

struct Marks {
    std::int64_t main = 0;   // main() entered
    std::int64_t app = 0;    // the application object is made
    std::int64_t window = 0; // the window is built
    std::int64_t shown = 0;  // show() has returned
};

class ProbeApplication : public QApplication {
  public:
    ProbeApplication(int& argc, char** argv, Marks& marks)
        : QApplication(argc, argv), marks_(marks) {
        marks_.app = monotonicNs();
    }

    void watch(QWidget* window) { window_ = window; }

    bool notify(QObject* receiver, QEvent* event) override {
        if (depth_ == 0) {
            outerType_ = event->type();
        }
        if (!paintSeen_ && window_ && event->type() == QEvent::Paint && receiver->isWidgetType() &&
            static_cast<QWidget*>(receiver)->window() == window_) {
            paintSeen_ = true;
        }
        ++depth_;
        const bool result = QApplication::notify(receiver, event);
        --depth_;
        if (paintSeen_ && depth_ == 0 && !reported_) {
            reported_ = true;
            report(monotonicNs(), clockNs(CLOCK_PROCESS_CPUTIME_ID));
        }
        return result;
    }

  private:
    void report(std::int64_t painted, std::int64_t cpu) {
        std::printf("first_paint main=%lld app=%lld window=%lld shown=%lld painted=%lld "
                    "cpu=%lld hwm_kb=%ld outer=%d\n",
                    static_cast<long long>(marks_.main), static_cast<long long>(marks_.app),
                    static_cast<long long>(marks_.window), static_cast<long long>(marks_.shown),
                    static_cast<long long>(painted), static_cast<long long>(cpu), highWaterKb(),
                    static_cast<int>(outerType_));
        std::fflush(stdout);
        // For finding out where the memory goes: the mappings as they are now.
        if (const char* path = std::getenv("FIRST_PAINT_SMAPS")) {
            if (std::FILE* in = std::fopen("/proc/self/smaps", "r")) {
                if (std::FILE* out = std::fopen(path, "w")) {
                    char buf[4096];
                    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, in)) > 0;) {
                        std::fwrite(buf, 1, n, out);
                    }
                    std::fclose(out);
                }
                std::fclose(in);
            }
        }
        // Leave the way the program would: the window closes, the loop ends.
        QTimer::singleShot(0, window_, [w = window_] { w->close(); });
        QTimer::singleShot(0, this, [] { QCoreApplication::quit(); });
    }

    Marks& marks_;
    QWidget* window_ = nullptr;
    int depth_ = 0;
    QEvent::Type outerType_ = QEvent::None;
    bool paintSeen_ = false;
    bool reported_ = false;
};

} // namespace first_paint
