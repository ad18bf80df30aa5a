// The settings file: defaults, the Windows reading rules, writing and a
// folder that cannot be written.
#include "app/settings.h"
#include "tests/support/read_only_dir.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    return f.readAll();
}

} // namespace

TEST(Settings, FileNameBeginsWithCyrillicEs) {
    const QString name = Settings::fileName();
    EXPECT_EQ(name.at(0).unicode(), 0x0421);
    EXPECT_EQ(name.mid(1), QStringLiteral("onfig.ini"));
}

TEST(Settings, NoFileGivesTheDefaults) {
    QTemporaryDir dir;
    const Settings s = Settings::read(dir.filePath(Settings::fileName()));
    EXPECT_EQ(s.port, "COM1");
    EXPECT_EQ(s.baudrate, 12);
    EXPECT_EQ(s.modProv, 2);
    EXPECT_EQ(s.devProv, 2);
    EXPECT_EQ(s.serverPort, 2020u);
}

TEST(Settings, ReadsWindowsStyleValues) {
    QTemporaryDir dir;
    const QString path = dir.filePath(Settings::fileName());
    // Written by hand on Windows: other case, blanks, quotes, hexadecimal, junk.
    writeFile(path, "; made by hand\r\n[config]\r\n PORT = \"COM3\" \r\nbaudrate=268\r\n"
                    "Mod_prov=abc\r\nDev_prov=\r\nServer_port=0x7E4\r\nPort=COM9\r\n");
    const Settings s = Settings::read(path);
    EXPECT_EQ(s.port, "COM3");  // the first key wins
    EXPECT_EQ(s.baudrate, 268); // the window keeps the low 8 bits
    EXPECT_EQ(s.modProv, 2);
    EXPECT_EQ(s.devProv, 2);
    EXPECT_EQ(s.serverPort, 2020u);
}

TEST(Settings, WritesAllKeysAndReadsThemBack) {
    QTemporaryDir dir;
    const QString path = dir.filePath(Settings::fileName());
    Settings out;
    ASSERT_FALSE(out.write(path).has_value());
    EXPECT_EQ(readFile(path), QByteArray("[Config]\r\nPort=COM1\r\nBaudrate=12\r\nMod_prov=2\r\n"
                                         "Dev_prov=2\r\nServer_port=2020\r\n"));

    out.port = "/dev/serial/by-id/usb-Велиран";
    out.baudrate = 6;
    out.modProv = -1;
    out.devProv = 3;
    out.serverPort = 3030;
    ASSERT_FALSE(out.write(path).has_value());
    const Settings in = Settings::read(path);
    EXPECT_EQ(in.port, out.port);
    EXPECT_EQ(in.baudrate, 6);
    EXPECT_EQ(in.modProv, -1);
    EXPECT_EQ(in.devProv, 3);
    EXPECT_EQ(in.serverPort, 3030u);
    // The port text is stored in code page 1251.
    EXPECT_TRUE(readFile(path).contains("usb-\xC2\xE5\xEB\xE8\xF0\xE0\xED"));
}

TEST(Settings, KeepsWhatElseTheFileHolds) {
    QTemporaryDir dir;
    const QString path = dir.filePath(Settings::fileName());
    writeFile(path, "[Other]\r\nx=1\r\n[Config]\r\n; note\r\nPort=COM2\r\nExtra=yes\r\n");
    Settings s;
    s.port = "ttyUSB0";
    ASSERT_FALSE(s.write(path).has_value());
    const QByteArray text = readFile(path);
    EXPECT_TRUE(
        text.startsWith("[Other]\r\nx=1\r\n[Config]\r\n; note\r\nPort=ttyUSB0\r\nExtra=yes\r\n"));
    EXPECT_TRUE(text.contains("Server_port=2020"));
}

TEST(Settings, PortThatCodePage1251CannotHoldIsReportedNotChanged) {
    QTemporaryDir dir;
    const QString path = dir.filePath(Settings::fileName());
    Settings s;
    s.port = "/dev/ttyΩ";
    s.serverPort = 4040;
    const auto problem = s.write(path);
    ASSERT_TRUE(problem.has_value());
    EXPECT_NE(problem->find("Ω"), std::string::npos);
    const Settings back = Settings::read(path);
    EXPECT_EQ(back.port, "COM1");
    EXPECT_EQ(back.serverPort, 4040u); // the rest is still saved
}

TEST(Settings, FolderThatCannotBeWrittenIsReported) {
    ReadOnlyDir ro;
    if (!ro.effective()) {
        GTEST_SKIP() << "cannot make a folder read-only here";
    }
    const QString path = QDir(QString::fromStdString(ro.path())).filePath(Settings::fileName());
    const auto problem = Settings().write(path);
    ASSERT_TRUE(problem.has_value());
    EXPECT_NE(problem->find("onfig.ini"), std::string::npos) << *problem;
    EXPECT_TRUE(QDir(QString::fromStdString(ro.path()))
                    .entryList(QDir::NoDotAndDotDot | QDir::AllEntries)
                    .isEmpty());
}
