// The window's shared open dialog and its save dialog: each use presets its
// own filter entry and file name, a typed name comes back as typed (no
// extension added, no existence required), and cancelling gives nothing.
#include "tests/support/window_run.h"

#include <QFileDialog>

TEST(FileDialogs, PresetsAreAppliedPerUseAndNamesComeBackAsTyped) {
    WindowRun run;
    run.openWindow();
    TForm1& form = *run.form;
    const QString typed = run.dir.filePath(QStringLiteral("no-such-file"));

    FileDialogSeen seen;
    answerFileDialog(typed, &seen);
    EXPECT_EQ(form.executeOpenDialog(3, QStringLiteral("*.csv")), typed);
    EXPECT_EQ(seen.objectName, QStringLiteral("OpenDialog"));
    EXPECT_EQ(seen.filter, QStringLiteral("CSV file [*.csv] (*.csv)"));
    EXPECT_EQ(seen.fileName, QStringLiteral("*.csv"));

    // The same dialog, used for another purpose, shows that purpose's presets.
    seen = {};
    answerFileDialog(QString(), &seen);
    EXPECT_TRUE(form.executeOpenDialog(2, QStringLiteral("*.bin")).isEmpty());
    EXPECT_EQ(seen.filter, QStringLiteral("Binary files [*.bin] (*.bin)"));
    EXPECT_EQ(seen.fileName, QStringLiteral("*.bin"));
    EXPECT_EQ(form.findChildren<QFileDialog*>(QStringLiteral("OpenDialog")).size(), 1);

    seen = {};
    answerFileDialog(typed, &seen);
    EXPECT_EQ(form.executeSaveDialog(QStringLiteral("*.fcd")), typed);
    EXPECT_EQ(seen.objectName, QStringLiteral("SaveDialog"));
    EXPECT_EQ(seen.filter, QStringLiteral("File configuration [*.fcd] (*.fcd)"));
    EXPECT_EQ(seen.fileName, QStringLiteral("*.fcd"));
    EXPECT_TRUE(form.SaveDialog()->testOption(QFileDialog::DontConfirmOverwrite));
}
