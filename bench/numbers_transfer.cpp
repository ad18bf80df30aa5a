// How long the configurator takes to read and to write the configuration
// with a full list of 650 numbers over the serial link at 115 200 baud, beside
// the floor that the protocol's own pacing sets.
//
// The real window runs in-process on the offscreen platform with its real
// timers; the simulator paces both directions at the wire rate and records
// every byte. The floor is computed from those records: the wire time of every
// byte exchanged (10 bits a byte), plus, per device reply, the quiet time the
// analysis waits for ((quietTicks - 1) ticks) and one tick.
//
// Run: build/bin/numbers_transfer [runs] [--fast] [--reply-delay MS]
//   (default 3 runs, about 80 s a run without --fast). --fast switches the
//   window's fast exchange on; --reply-delay gives the simulated device that
//   handling time per reply, and the wire-time floor (every byte at 10 bits
//   plus the reply delays) is printed beside the figures.
#include "app/settings.h"
#include "app/tform1.h"
#include "tests/support/sim_process.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

bool gFast = false;
int gReplyDelayMs = 0;

constexpr double kBaud = 115200.0;
constexpr double kTickMs = 20.0;

std::string readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
}

int countOf(const std::string& text, const std::string& what) {
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

// Sizes of the messages in `bytes`, each starting at one of `tokens`.
std::vector<std::size_t> messageSizes(const std::string& bytes,
                                      const std::vector<std::string>& tokens) {
    std::vector<std::size_t> starts;
    for (const std::string& token : tokens) {
        for (auto at = bytes.find(token); at != std::string::npos; at = bytes.find(token, at + 1)) {
            starts.push_back(at);
        }
    }
    std::sort(starts.begin(), starts.end());
    std::vector<std::size_t> sizes;
    for (std::size_t i = 0; i < starts.size(); ++i) {
        const std::size_t begin = i == 0 ? 0 : starts[i];
        const std::size_t end = i + 1 < starts.size() ? starts[i + 1] : bytes.size();
        sizes.push_back(end - begin);
    }
    return sizes;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n == 0 ? 0.0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

// What the window and the line did during one transfer.
struct Probe {
    QElapsedTimer clock;
    std::vector<double> rxEvents; // ms, every receive event on the window's thread
    std::vector<double> ticks;    // ms, every 20 ms tick
    void clear() {
        rxEvents.clear();
        ticks.clear();
    }
};

struct Transfer {
    double measuredMs = 0;
    double floorMs = 0;
    // The same bytes on the 20 ms tick grid: after the analysis tick the
    // command and its reply cross the line (w), the first tick after the reply
    // comes ceil(w / 20 ms) ticks later and the analysis (quietTicks - 2)
    // ticks after that.
    double gridFloorMs = 0;
    double wireMs = 0;
    int exchanges = 0;
    std::size_t bytesIn = 0;  // configurator -> device
    std::size_t bytesOut = 0; // device -> configurator
    // Per reply: from its last receive event to the tick that analysed it.
    std::vector<double> quietWaits;
    // Per exchange: from the analysis tick to the first receive event of the
    // next reply (command wire time, device, reply's first bytes).
    std::vector<double> turnarounds;
};

class Bench {
  public:
    explicit Bench(const QString& numbersFile) : numbersFile_(numbersFile) {}

    bool start() {
        sim_ = std::make_unique<SimProcess>(std::vector<std::string>{
            "--link", link_.toStdString(), "--trace", traceIn_.toStdString(), "--trace-out",
            traceOut_.toStdString(), "--baud", "115200", "--numbers", numbersFile_.toStdString(),
            "--reply-delay", std::to_string(gReplyDelayMs)});
        if (!sim_->ok()) {
            std::fprintf(stderr, "simulator: %s\n", sim_->error().c_str());
            return false;
        }
        TForm1::Options o;
        o.portOverride = link_;
        o.settingsPath = dir_.filePath(Settings::fileName());
        o.sysClassTty = dir_.filePath(QStringLiteral("no-sys"));
        form_ = std::make_unique<TForm1>(o);
        form_->show();
        form_->ui.Fast_exchange->setChecked(gFast);
        probe_.clock.start();
        auto inner = form_->session->port().OnRxChar;
        form_->session->port().OnRxChar = [this, inner](TThreadComm* sender, std::uint32_t count) {
            probe_.rxEvents.push_back(static_cast<double>(probe_.clock.nsecsElapsed()) / 1e6);
            inner(sender, count);
        };
        // Connected after the window's own slot, so it runs right after the tick.
        QObject::connect(&form_->Timer, &QTimer::timeout, [this] {
            probe_.ticks.push_back(static_cast<double>(probe_.clock.nsecsElapsed()) / 1e6);
        });
        const QString linked =
            QString::fromUtf8("Coeдинение установлено: \"Велиран\", версия ПО: 30");
        if (!QTest::qWaitFor([&] { return form_->ui.StatusPanels[2]->text() == linked; }, 10000)) {
            std::fprintf(stderr, "the device did not link\n");
            return false;
        }
        QTest::qWait(300); // let the greeting's tail and the port timer settle
        return true;
    }

    // Clicks `button` and runs the event loop until the log shows `doneLine`.
    // The loop is woken by the log itself, so nothing sleeps in between.
    bool run(QAbstractButton* button, const char* doneLine, int quietTicks,
             const std::vector<std::string>& commandTokens,
             const std::vector<std::string>& replyTokens, Transfer& t) {
        const std::size_t in0 = readFile(traceIn_).size();
        const std::size_t out0 = readFile(traceOut_).size();
        const QString line = QString::fromUtf8(doneLine);
        QPlainTextEdit* log = form_->ui.Log;
        QEventLoop loop;
        double doneAt = -1;
        auto conn = QObject::connect(log, &QPlainTextEdit::textChanged, [&] {
            if (doneAt >= 0) {
                return;
            }
            QTextBlock b = log->document()->lastBlock();
            for (int i = 0; i < 4 && b.isValid(); ++i, b = b.previous()) {
                if (b.text() == line) {
                    doneAt = static_cast<double>(probe_.clock.nsecsElapsed()) / 1e6;
                    loop.quit();
                    return;
                }
            }
        });
        QTimer::singleShot(200000, &loop, &QEventLoop::quit);
        probe_.clear();
        const double clickAt = static_cast<double>(probe_.clock.nsecsElapsed()) / 1e6;
        QTest::mouseClick(button, Qt::LeftButton);
        if (doneAt < 0) {
            loop.exec();
        }
        QObject::disconnect(conn);
        if (doneAt < 0) {
            std::fprintf(stderr, "no \"%s\" in time; log tail:\n%s\n", doneLine,
                         log->toPlainText().right(300).toUtf8().constData());
            return false;
        }
        const std::string in = readFile(traceIn_).substr(in0);
        const std::string out = readFile(traceOut_).substr(out0);
        t.measuredMs = doneAt - clickAt;
        t.bytesIn = in.size();
        t.bytesOut = out.size();
        t.exchanges = 0;
        for (const std::string& token : replyTokens) {
            t.exchanges += countOf(out, token);
        }
        t.wireMs = static_cast<double>(t.bytesIn + t.bytesOut) * 10.0 / kBaud * 1000.0;
        t.floorMs = t.wireMs + t.exchanges * ((quietTicks - 1) * kTickMs + kTickMs);
        const std::vector<std::size_t> commands = messageSizes(in, commandTokens);
        const std::vector<std::size_t> replies = messageSizes(out, replyTokens);
        t.gridFloorMs = 0;
        for (std::size_t i = 0; i < replies.size(); ++i) {
            const std::size_t bytes = replies[i] + (i < commands.size() ? commands[i] : 0);
            const double w = static_cast<double>(bytes) * 10.0 / kBaud * 1000.0;
            t.gridFloorMs += (std::ceil(w / kTickMs) + quietTicks - 2) * kTickMs;
        }
        analyse(quietTicks, clickAt, t);
        QTest::qWait(300); // the last acknowledgement goes out
        return true;
    }

    TForm1& form() { return *form_; }

  private:
    // Splits the receive events into replies: a reply ends with the tick on
    // which its countdown reaches 1 ((quietTicks - 1) ticks after its last event).
    void analyse(int quietTicks, double clickAt, Transfer& t) const {
        t.quietWaits.clear();
        t.turnarounds.clear();
        const auto& rx = probe_.rxEvents;
        const auto& ticks = probe_.ticks;
        double lastAnalysis = clickAt;
        std::size_t k = 0;
        while (k < rx.size()) {
            if (rx[k] < lastAnalysis) {
                ++k;
                continue;
            }
            t.turnarounds.push_back(rx[k] - lastAnalysis);
            // The events of this reply: those before its analysis tick.
            std::size_t last = k;
            double analysisAt = -1;
            for (;;) {
                int seen = 0;
                analysisAt = -1;
                for (double tk : ticks) {
                    if (tk > rx[last] && ++seen == quietTicks - 1) {
                        analysisAt = tk;
                        break;
                    }
                }
                if (last + 1 < rx.size() && (analysisAt < 0 || rx[last + 1] < analysisAt)) {
                    ++last;
                    continue;
                }
                break;
            }
            if (analysisAt < 0) {
                break;
            }
            t.quietWaits.push_back(analysisAt - rx[last]);
            lastAnalysis = analysisAt;
            k = last + 1;
        }
    }

    QString numbersFile_;
    QTemporaryDir dir_;
    QString link_ = dir_.filePath(QStringLiteral("tty"));
    QString traceIn_ = dir_.filePath(QStringLiteral("trace-in"));
    QString traceOut_ = dir_.filePath(QStringLiteral("trace-out"));
    std::unique_ptr<SimProcess> sim_;
    std::unique_ptr<TForm1> form_;
    Probe probe_;
};

QString writeNumbers(const QTemporaryDir& dir) {
    const QString path = dir.filePath(QStringLiteral("numbers"));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) {
        return {};
    }
    for (int i = 1; i <= 650; ++i) {
        const std::string line = std::to_string(i - 1) + ";" +
                                 std::to_string(9000000000LL + i * 1237LL) + ";" +
                                 std::to_string(i % 400) + "\n";
        f.write(line.data(), static_cast<qint64>(line.size()));
    }
    return path;
}

void printTransfer(const char* what, const Transfer& t) {
    std::printf("  %-5s measured %9.1f ms  floor %9.1f ms  ratio %.4f  (%d replies, %zu B to "
                "device, %zu B from device, wire %.1f ms)\n",
                what, t.measuredMs, t.floorMs, t.measuredMs / t.floorMs, t.exchanges, t.bytesIn,
                t.bytesOut, t.wireMs);
    std::printf("        tick-grid floor %9.1f ms  ratio %.4f\n", t.gridFloorMs,
                t.measuredMs / t.gridFloorMs);
    const double wireFloor = t.wireMs + t.exchanges * double(gReplyDelayMs);
    std::printf("        wire-time floor (bytes + %d ms per reply) %9.1f ms  ratio %.4f\n",
                gReplyDelayMs, wireFloor, t.measuredMs / wireFloor);
    if (!t.quietWaits.empty()) {
        std::printf(
            "        last receive event -> analysis tick: median %.1f ms, min %.1f, max "
            "%.1f; analysis -> first bytes of next reply: median %.1f ms, max %.1f\n",
            median(t.quietWaits), *std::min_element(t.quietWaits.begin(), t.quietWaits.end()),
            *std::max_element(t.quietWaits.begin(), t.quietWaits.end()), median(t.turnarounds),
            *std::max_element(t.turnarounds.begin(), t.turnarounds.end()));
    }
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The window keeps a backup of every complete read: the runs' backups go
    // to a folder of their own, never into the user's.
    QTemporaryDir backups;
    qputenv("XDG_DATA_HOME", backups.path().toUtf8());
    int runs = 3;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--fast") {
            gFast = true;
        } else if (arg == "--reply-delay" && i + 1 < argc) {
            gReplyDelayMs = std::max(0, std::atoi(argv[++i]));
        } else {
            runs = std::max(1, std::atoi(argv[i]));
        }
    }

    QTemporaryDir dir;
    const QString numbers = writeNumbers(dir);
    std::printf("numbers_transfer: 650 numbers, serial link at 115200 baud, %d runs, fast "
                "exchange %s, reply delay %d ms\n",
                runs, gFast ? "on" : "off", gReplyDelayMs);
    std::printf("floor = wire time of every byte (10 bits) + per reply (quietTicks - 1) ticks + "
                "one tick of 20 ms\n");

    std::vector<double> readMs, readFloor, readGrid, writeMs, writeFloor, writeGrid;
    std::vector<double> readWire, writeWire; // every byte at 10 bits + the handling time
    for (int r = 1; r <= runs; ++r) {
        Bench bench(numbers);
        if (!bench.start()) {
            return 1;
        }
        Transfer read;
        Transfer write;
        // The read continues with the numbers on its own; the write sends the
        // 650 numbers just read back to the device.
        if (!bench.run(bench.form().ui.RzToolButton3, "Чтение номеров завершено", 15,
                       {"CONFR", "READ ", "R_OK\r", "RFAIL\r"}, {"CONFR", "+IPD"}, read) ||
            !bench.run(bench.form().ui.RzToolButton4, "Запись номеров завершена", 5,
                       {"CONFW", "RT+NTF=", "RT+EFA="}, {"CONFW", "+NTF:", "+EFA:"}, write)) {
            return 1;
        }
        std::printf("run %d\n", r);
        printTransfer("read", read);
        printTransfer("write", write);
        std::fflush(stdout);
        readMs.push_back(read.measuredMs);
        readFloor.push_back(read.floorMs);
        readGrid.push_back(read.gridFloorMs);
        writeGrid.push_back(write.gridFloorMs);
        writeMs.push_back(write.measuredMs);
        writeFloor.push_back(write.floorMs);
        readWire.push_back(read.wireMs + read.exchanges * double(gReplyDelayMs));
        writeWire.push_back(write.wireMs + write.exchanges * double(gReplyDelayMs));
    }
    const double rm = median(readMs), rf = median(readFloor);
    const double wm = median(writeMs), wf = median(writeFloor);
    std::printf("median of %d runs\n", runs);
    std::printf("  read   measured %9.1f ms  floor %9.1f ms  ratio %.4f  target <= 1.03  %s\n", rm,
                rf, rm / rf, rm / rf <= 1.03 ? "met" : "MISSED");
    std::printf("  write  measured %9.1f ms  floor %9.1f ms  ratio %.4f  target <= 1.01  %s\n", wm,
                wf, wm / wf, wm / wf <= 1.01 ? "met" : "MISSED");
    const double rg = median(readGrid), wg = median(writeGrid);
    std::printf("  read   beside the tick-grid floor %9.1f ms: ratio %.4f\n", rg, rm / rg);
    std::printf("  write  beside the tick-grid floor %9.1f ms: ratio %.4f\n", wg, wm / wg);
    // The fast exchange's yardstick: no quiet time and no tick at all.
    const double rw = median(readWire), ww = median(writeWire);
    std::printf("  read   beside the wire-time floor %9.1f ms: ratio %.4f  target with the fast "
                "exchange <= 1.5\n",
                rw, rm / rw);
    std::printf("  write  beside the wire-time floor %9.1f ms: ratio %.4f  target with the fast "
                "exchange <= 1.5\n",
                ww, wm / ww);
    return 0;
}
