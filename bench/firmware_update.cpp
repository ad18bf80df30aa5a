// How long the configurator takes to program the largest firmware image
// (15 365 bytes: 120 blocks) through the device's bootloader over the serial
// link at 115 200 baud, beside the floor that the protocol's own pacing sets.
//
// The real window runs in-process on the offscreen platform with its real
// timers; the simulator paces both directions at the wire rate and records
// every byte. The floor is counted from those records the way
// numbers_transfer counts it: the wire time of every byte (10 bits a byte),
// the simulator's handling time per frame, and per bootloader reply the
// quiet time the analysis waits ((quietTicks - 1) ticks, quietTicks being 5
// on the firmware page) and one tick.
//
// Run: build/bin/firmware_update [runs] [delay-ms] [--fast]   (default 3
// runs, 0 ms; about 15 s a run). --fast switches the window's fast exchange
// on; the wire-time floor (every byte at 10 bits plus the handling time per
// reply) is printed beside the figures.
#include "app/settings.h"
#include "app/tform1.h"
#include "tests/support/sim_process.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr double kBaud = 115200.0;
constexpr double kTickMs = 20.0;
constexpr int kQuietTicks = 5;

std::string readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n == 0 ? 0.0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

bool gFast = false;

double wireMs(std::size_t bytes) {
    return static_cast<double>(bytes) * 10.0 / kBaud * 1000.0;
}

struct Run {
    double measuredMs = 0;
    double floorMs = 0;
    double gridFloorMs = 0; // the same exchanges on a free-running 20 ms tick
    int replies = 0;
    std::size_t bytesIn = 0;  // configurator -> bootloader
    std::size_t bytesOut = 0; // bootloader -> configurator
};

class Bench {
  public:
    Bench(const QString& image, int delayMs) : image_(image), delayMs_(delayMs) {}

    bool start() {
        sim_ = std::make_unique<SimProcess>(std::vector<std::string>{
            "--link", link_.toStdString(), "--trace", traceIn_.toStdString(), "--trace-out",
            traceOut_.toStdString(), "--baud", "115200", "--delay-ms", std::to_string(delayMs_)});
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
        TForm1Ui& ui = form_->ui;
        if (!waitPanel("Coeдинение установлено: \"Велиран\", версия ПО: 30")) {
            std::fprintf(stderr, "the device did not link\n");
            return false;
        }
        // The firmware page, a restart into the bootloader and the image.
        const QRect r = ui.TreeView->visualItemRect(ui.TreeView->topLevelItem(3));
        QTest::mouseClick(ui.TreeView->viewport(), Qt::LeftButton, {}, r.center());
        QTest::qWait(50);
        QTest::mouseClick(ui.Reset_but, Qt::LeftButton);
        if (!waitPanel("Coeдинение установлено: Загрузчик v.2")) {
            std::fprintf(stderr, "the bootloader did not answer\n");
            return false;
        }
        // Answers the open dialog as a user would: types the path and accepts.
        QTimer answer;
        answer.setInterval(10);
        QObject::connect(&answer, &QTimer::timeout, [&] {
            auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (d == nullptr || !d->isVisible()) {
                return;
            }
            answer.stop();
            if (auto* edit = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
                edit->setText(image_);
            }
            static_cast<QDialog*>(d)->accept();
        });
        answer.start();
        QTest::mouseClick(ui.Open_FW, Qt::LeftButton);
        if (!ui.Program->isEnabled()) {
            std::fprintf(stderr, "the image was not taken\n");
            return false;
        }
        QTest::qWait(300); // the line settles
        return true;
    }

    // Clicks "Обновить" and runs the event loop until the log says it is done.
    bool program(Run& run) {
        const std::size_t in0 = readFile(traceIn_).size();
        const std::size_t out0 = readFile(traceOut_).size();
        const QString done = QString::fromUtf8("Программирование завершено");
        QPlainTextEdit* log = form_->ui.Log;
        QEventLoop loop;
        QElapsedTimer clock;
        double doneAt = -1;
        auto conn = QObject::connect(log, &QPlainTextEdit::textChanged, [&] {
            if (doneAt < 0 && log->document()->lastBlock().text() == done) {
                doneAt = static_cast<double>(clock.nsecsElapsed()) / 1e6;
                loop.quit();
            }
        });
        QTimer::singleShot(120000, &loop, &QEventLoop::quit);
        clock.start();
        QTest::mouseClick(form_->ui.Program, Qt::LeftButton);
        if (doneAt < 0) {
            loop.exec();
        }
        QObject::disconnect(conn);
        if (doneAt < 0) {
            std::fprintf(stderr, "not done in time; log tail:\n%s\n",
                         log->toPlainText().right(300).toUtf8().constData());
            return false;
        }
        QTest::qWait(200); // the end marker reaches the trace
        const std::string in = readFile(traceIn_).substr(in0);
        const std::string out = readFile(traceOut_).substr(out0);
        run.measuredMs = doneAt;
        run.bytesIn = std::min<std::size_t>(in.size(), in.find("CONFO"));
        run.bytesOut = out.size();
        run.replies = static_cast<int>(std::count(out.begin(), out.end(), '!') +
                                       std::count(out.begin(), out.end(), '@'));
        // Every reply answers one 131-byte frame.
        const double perFrame = wireMs(131 + 1) + delayMs_;
        run.floorMs = wireMs(run.bytesIn + run.bytesOut) +
                      run.replies * (delayMs_ + (kQuietTicks - 1) * kTickMs + kTickMs);
        run.gridFloorMs = run.replies * (std::ceil(perFrame / kTickMs) + kQuietTicks - 2) * kTickMs;
        return true;
    }

  private:
    bool waitPanel(const char* utf8) {
        const QString text = QString::fromUtf8(utf8);
        return QTest::qWaitFor([&] { return form_->ui.StatusPanels[2]->text() == text; }, 10000);
    }

    QString image_;
    int delayMs_;
    QTemporaryDir dir_;
    QString link_ = dir_.filePath(QStringLiteral("tty"));
    QString traceIn_ = dir_.filePath(QStringLiteral("trace-in"));
    QString traceOut_ = dir_.filePath(QStringLiteral("trace-out"));
    std::unique_ptr<SimProcess> sim_;
    std::unique_ptr<TForm1> form_;
};

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The window keeps a backup of every complete read: the runs' backups go
    // to a folder of their own, never into the user's.
    QTemporaryDir backups;
    qputenv("XDG_DATA_HOME", backups.path().toUtf8());
    std::vector<std::string> args(argv + 1, argv + argc);
    gFast = std::erase(args, std::string("--fast")) > 0;
    const int runs = !args.empty() ? std::max(1, std::atoi(args[0].c_str())) : 3;
    const int delayMs = args.size() > 1 ? std::max(0, std::atoi(args[1].c_str())) : 0;

    QTemporaryDir dir;
    const QString image = dir.filePath(QStringLiteral("fw.bin"));
    {
        QFile f(image);
        if (!f.open(QIODevice::WriteOnly)) {
            return 1;
        }
        std::string bytes = "VXRT\x07";
        for (int i = 0; i < 15360; ++i) {
            bytes.push_back(static_cast<char>(i * 7 + 3));
        }
        f.write(bytes.data(), static_cast<qint64>(bytes.size()));
    }
    std::printf("firmware_update: 15365-byte image (120 blocks), serial link at 115200 baud, "
                "simulator handling %d ms, %d runs, fast exchange %s\n",
                delayMs, runs, gFast ? "on" : "off");
    std::printf("floor = wire time of every byte (10 bits) + per reply the handling time, "
                "(quietTicks - 1) ticks and one tick of 20 ms\n");

    std::vector<double> measured, floors, grids, wires;
    for (int r = 1; r <= runs; ++r) {
        Bench bench(image, delayMs);
        Run run;
        if (!bench.start() || !bench.program(run)) {
            return 1;
        }
        std::printf("run %d  measured %8.1f ms  floor %8.1f ms  ratio %.4f  (%d replies, %zu B to "
                    "bootloader, %zu B back; %.1f ms a frame)\n",
                    r, run.measuredMs, run.floorMs, run.measuredMs / run.floorMs, run.replies,
                    run.bytesIn, run.bytesOut, run.measuredMs / std::max(1, run.replies));
        std::printf("       tick-grid floor %8.1f ms  ratio %.4f\n", run.gridFloorMs,
                    run.measuredMs / run.gridFloorMs);
        const double wireFloor = wireMs(run.bytesIn + run.bytesOut) + run.replies * delayMs;
        std::printf("       wire-time floor (bytes + %d ms per reply) %8.1f ms  ratio %.4f\n",
                    delayMs, wireFloor, run.measuredMs / wireFloor);
        std::fflush(stdout);
        measured.push_back(run.measuredMs);
        floors.push_back(run.floorMs);
        grids.push_back(run.gridFloorMs);
        wires.push_back(wireFloor);
    }
    const double m = median(measured), f = median(floors), g = median(grids);
    std::printf("median of %d runs\n", runs);
    std::printf("  measured %8.1f ms  floor %8.1f ms  ratio %.4f  target <= 1.02  %s\n", m, f,
                m / f, m / f <= 1.02 ? "met" : "MISSED");
    std::printf("  beside the tick-grid floor %8.1f ms: ratio %.4f\n", g, m / g);
    std::printf("  beside the wire-time floor %8.1f ms: ratio %.4f  target with the fast exchange "
                "<= 1.5\n",
                median(wires), m / median(wires));
    return 0;
}
