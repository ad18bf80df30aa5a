// "Руководство" and "Сохранить журнал" in the whole window (offscreen): the
// manual built beside the programs is the one opened, a missing one is
// logged, and the saved log holds every line of the box with its time.
#include "tests/support/window_run.h"

#include <QAction>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTextBlock>
#include <QUrl>

namespace {

// Receives what the window hands to the desktop to open.
class OpenedUrls : public QObject {
    Q_OBJECT
  public:
    OpenedUrls() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open"); }
    ~OpenedUrls() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    QList<QUrl> urls;

  public slots:
    void open(const QUrl& url) { urls.push_back(url); }
};

QStringList boxLines(const TForm1& form) {
    QStringList lines;
    for (QTextBlock b = form.ui.Log->document()->firstBlock(); b.isValid(); b = b.next()) {
        lines.push_back(b.text());
    }
    return lines;
}

// Opens the log box's context menu as a right click would and returns it.
QMenu* openLogMenu(TForm1& form) {
    QPlainTextEdit* box = form.ui.Log;
    emit box->customContextMenuRequested(box->rect().center());
    QMenu* menu = nullptr;
    const bool shown = QTest::qWaitFor(
        [&] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (auto* m = qobject_cast<QMenu*>(w);
                    m != nullptr && m->isVisible() &&
                    m->objectName() == QStringLiteral("LogMenu")) {
                    menu = m;
                }
            }
            return menu != nullptr;
        },
        2000);
    return shown ? menu : nullptr;
}

} // namespace

TEST(ManualWindow, OpensTheBuiltManualAndLogsAMissingOne) {
    OpenedUrls opened;
    WindowRun run;
    run.openWindow();
    // The test program lies beside vxrt7-config, where the build puts the PDF.
    run.form->ui.N1->trigger();
    const QString built =
        QDir(QCoreApplication::applicationDirPath()).filePath("UserManual_VX-RT-7.pdf");
    ASSERT_EQ(opened.urls.size(), 1);
    EXPECT_EQ(opened.urls.front().toLocalFile(), built);
    EXPECT_FALSE(run.log().contains(QString::fromUtf8("Руководство")));

    // No manual in any folder searched: the log names the file and the
    // folders, and nothing is handed to the desktop.
    run.form.reset();
    TForm1::Options o;
    o.settingsPath = run.settings;
    o.sysClassTty = run.dir.filePath(QStringLiteral("no-sys"));
    const QString empty = run.dir.filePath(QStringLiteral("no-manual"));
    QDir().mkpath(empty);
    o.manualFolders = {empty, run.dir.filePath(QStringLiteral("no-such-folder"))};
    run.form = std::make_unique<TForm1>(o);
    run.form->show();
    run.form->ui.N1->trigger();
    EXPECT_EQ(opened.urls.size(), 1);
    EXPECT_TRUE(
        run.log().contains(QString::fromUtf8("Руководство UserManual_VX-RT-7.pdf не найдено")))
        << run.log().toStdString();
    EXPECT_TRUE(run.log().contains(empty)) << run.log().toStdString();
}

TEST(LogWindow, SavedLogHoldsEveryLineOfTheBoxWithItsTime) {
    WindowRun run;
    run.startLinked();
    run.form->N6Click();
    ASSERT_TRUE(run.waitLog("Чтение номеров завершено")) << run.log().toStdString();
    // A line with a break in it becomes two lines of the box, each kept.
    run.form->ui.Log->appendPlainText(QString::fromUtf8("первая часть\nвторая часть"));

    // Cancelled: nothing is written.
    QMenu* menu = openLogMenu(*run.form);
    ASSERT_NE(menu, nullptr);
    ASSERT_TRUE(menu->actions().contains(run.form->LogSave));
    EXPECT_EQ(run.form->LogSave->text(), QString::fromUtf8("Сохранить журнал"));
    FileDialogSeen seen;
    answerFileDialog(QString(), &seen);
    menu->close();
    run.form->LogSave->trigger();
    EXPECT_TRUE(seen.shown);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^vxrt7-log-\\d{8}-\\d{6}\\.txt$"))
                    .match(seen.fileName)
                    .hasMatch())
        << seen.fileName.toStdString();

    const QStringList lines = boxLines(*run.form);
    ASSERT_GE(lines.size(), 6);
    const QString path = run.dir.filePath(QString::fromUtf8("журнал.txt"));
    answerFileDialog(path);
    run.form->LogSave->trigger();
    const QString saved = QString::fromUtf8(readFileBytes(path));
    QStringList savedLines = saved.split(QLatin1Char('\n'));
    ASSERT_EQ(savedLines.takeLast(), QString()) << "the file ends with a line break";
    ASSERT_EQ(savedLines.size(), lines.size()) << saved.toStdString();

    const QRegularExpression stamped(
        QStringLiteral("^(\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3})  (.*)$"));
    QString previous;
    for (int i = 0; i < lines.size(); ++i) {
        const auto m = stamped.match(savedLines[i]);
        ASSERT_TRUE(m.hasMatch()) << savedLines[i].toStdString();
        EXPECT_EQ(m.captured(2), lines[i]);
        EXPECT_GE(m.captured(1), previous) << "times go forward";
        previous = m.captured(1);
    }
    // The link's lines came over a second after the window opened; the
    // lines appended last share one moment.
    EXPECT_TRUE(savedLines.last().endsWith(QString::fromUtf8("вторая часть")));
    EXPECT_EQ(savedLines.last().left(23), savedLines[savedLines.size() - 2].left(23));
    EXPECT_NE(savedLines.first().left(23), savedLines.last().left(23));
    EXPECT_TRUE(run.log().endsWith(QString::fromUtf8("Журнал сохранен в файл «") + path + "»"));

    // A folder that does not exist: the user is told, and the log says so.
    answerFileDialog(run.dir.filePath(QStringLiteral("no-such-folder/log.txt")));
    run.form->LogSave->trigger();
    bool boxShown = false;
    for (auto* box : run.form->findChildren<QMessageBox*>()) {
        if (box->isVisible()) {
            boxShown = box->text().startsWith(QString::fromUtf8("Не удается сохранить файл"));
            box->close();
        }
    }
    QTest::qWait(20); // the closed box is deleted before the window
    EXPECT_TRUE(boxShown);
    EXPECT_TRUE(run.log().contains(QString::fromUtf8("Не удается сохранить файл")));

    // Once more, and the box is left open: the window goes away with it (the
    // sanitizer build sees any use of the window's state by the dying box).
    answerFileDialog(run.dir.filePath(QStringLiteral("no-such-folder/log.txt")));
    run.form->LogSave->trigger();
    int open = 0;
    for (auto* box : run.form->findChildren<QMessageBox*>()) {
        open += box->isVisible() ? 1 : 0;
    }
    EXPECT_EQ(open, 1);
    run.form.reset();
}

#include "manual_and_log_window_test.moc"
