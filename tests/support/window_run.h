// The configurator's main window linked to the simulator on a
// pseudo-terminal, for end-to-end tests: a temporary folder holds the
// terminal's link, the simulator's trace and dump, and the settings file.
#pragma once

#include "app/settings.h"
#include "app/tform1.h"
#include "tests/support/sim_process.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>

inline const QString kLinkedText =
    QString::fromUtf8("Coeдинение установлено: \"Велиран\", версия ПО: 30");

inline std::string readFileBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        return {};
    }
    return f.readAll().toStdString();
}

inline int countOf(const std::string& text, const std::string& what) {
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

// Waits for `done`, hurrying only the quiet-time countdown that follows a
// reply; waiting for the device still runs on the window's own 20 ms timer,
// so a busy machine cannot make a time-out fire early.
template <typename Pred> bool hurryQuietTime(TForm1& form, Pred done, int seconds = 90) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (done()) {
            return true;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
        // With the fast exchange a countdown means a reply still arriving.
        if (form.session->link().state.rxCountdown > 1 && !form.session->link().fastExchange()) {
            form.session->tick20ms();
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    return done();
}

// What a file dialog showed when it was answered.
struct FileDialogSeen {
    bool shown = false;
    QString objectName;
    QString filter;   // the selected filter entry
    QString fileName; // the preset name in the file name box
};

// Answers the next file dialog that the window shows as a user would: types
// `path` and accepts, or cancels when `path` is empty. Call it before the
// action that opens the dialog; `seen` (kept alive by the caller) records
// what the dialog offered.
inline void answerFileDialog(const QString& path, FileDialogSeen* seen = nullptr) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, path, seen] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr || !dialog->isVisible()) {
            return;
        }
        timer->stop();
        timer->deleteLater();
        if (seen != nullptr) {
            seen->shown = true;
            seen->objectName = dialog->objectName();
            seen->filter = dialog->selectedNameFilter();
            const QStringList files = dialog->selectedFiles();
            seen->fileName = files.isEmpty() ? QString() : QFileInfo(files.front()).fileName();
        }
        if (path.isEmpty()) {
            dialog->reject();
        } else {
            // Typed into the file name box, as a user would.
            if (auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
                edit->setText(path);
            } else {
                dialog->selectFile(path);
            }
            static_cast<QDialog*>(dialog)->accept(); // what the Open/Save button does
        }
    });
    timer->start();
}

struct WindowRun {
    QTemporaryDir dir;
    QString link = dir.filePath(QStringLiteral("tty"));
    QString trace = dir.filePath(QStringLiteral("trace"));
    QString dump = dir.filePath(QStringLiteral("dump"));
    QString settings = dir.filePath(Settings::fileName());
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<TForm1> form;
    // The fast exchange, switched on in the settings file, against a device
    // that takes 20 ms per reply and sends each reply in random pieces: a
    // flow run both ways must come out the same.
    bool fast = false;

    // Starts the simulator (its dump is written when it stops).
    void startSim(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"--link",  link.toStdString(),
                                         "--trace", trace.toStdString(),
                                         "--dump",  dump.toStdString()};
        if (fast) {
            args.insert(args.end(),
                        {"--reply-delay", "20", "--split-random", "7", "--split-gap-ms", "3"});
        }
        args.insert(args.end(), extra.begin(), extra.end());
        sim = std::make_unique<SimProcess>(args);
        ASSERT_TRUE(sim->ok()) << sim->error();
    }
    void openWindow(bool overridePort = true) {
        TForm1::Options o;
        if (overridePort) {
            o.portOverride = link;
        }
        o.settingsPath = settings;
        o.sysClassTty = dir.filePath(QStringLiteral("no-sys"));
        if (QFile f(settings); fast && !f.exists() && f.open(QIODevice::WriteOnly)) {
            f.write("[Config]\r\nFast_exchange=1\r\n");
        }
        form = std::make_unique<TForm1>(o);
        ASSERT_EQ(form->session->link().fastExchange(), fast);
        form->show();
    }
    // Simulator and window, waiting until the device is linked.
    void startLinked(std::vector<std::string> extra = {}) {
        startSim(std::move(extra));
        openWindow();
        ASSERT_TRUE(waitPanel(kLinkedText)) << panel(2).toStdString();
    }
    QString panel(int i) const {
        return form->ui.StatusPanels[static_cast<std::size_t>(i)]->text();
    }
    bool waitPanel(const QString& text, int ms = 5000) {
        return QTest::qWaitFor([&] { return panel(2) == text; }, ms);
    }
    QString log() const { return form->ui.Log->toPlainText(); }
    bool waitLog(const char* utf8, int ms = 5000) {
        const QString line = QString::fromUtf8(utf8);
        return QTest::qWaitFor([&] { return log().contains(line); }, ms);
    }
    void clickTree(int item) {
        QTreeWidget* tree = form->ui.TreeView;
        const QRect r = tree->visualItemRect(tree->topLevelItem(item));
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, r.center());
        QTest::qWait(20);
    }
    // Stops the simulator and returns the value of one key of its dump.
    std::string dumpValue(const std::string& key) {
        sim->stop();
        const std::string text = readFileBytes(dump);
        const std::string prefix = key + "=";
        for (std::size_t at = 0; at < text.size();) {
            const std::size_t end = text.find('\n', at);
            const std::string line = text.substr(at, end == std::string::npos ? end : end - at);
            if (line.rfind(prefix, 0) == 0) {
                return line.substr(prefix.size());
            }
            if (end == std::string::npos) {
                break;
            }
            at = end + 1;
        }
        return {};
    }
};

// A window flow run twice: with the quiet time after every reply, and with
// the fast exchange (WindowRun::fast). Each test file instantiates its suite:
// INSTANTIATE_TEST_SUITE_P(Exchange, Suite, ::testing::Bool(), exchangeName);
class BothExchanges : public ::testing::TestWithParam<bool> {};
inline std::string exchangeName(const ::testing::TestParamInfo<bool>& info) {
    return info.param ? "Fast" : "QuietTime";
}
