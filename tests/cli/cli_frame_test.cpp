// The frame of vxrt7-cli: help on every command, the version, the port list
// as a script reads it, and the progress bar that only a terminal sees.
#include "tests/cli/cli_run.h"

#include "cli/progress.h"
#include "tests/support/pty_pair.h"

#include <QJsonArray>
#include <unistd.h>

TEST(CliFrame, HelpVersionAndPortsWithoutADisplay) {
    QTemporaryDir tmp;
    const std::string dir = tmp.path().toStdString();

    const CliResult version = runCli({"--version"}, dir);
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out, "vxrt7-cli " VXRT7_VERSION "\n");
    const QJsonObject v = runCli({"--version", "--json"}, dir).json();
    EXPECT_EQ(v["version"].toString(), VXRT7_VERSION);

    // The help names every command, and each has its own.
    const CliResult help = runCli({"--help"}, dir);
    EXPECT_EQ(help.code, 0);
    for (const char* command :
         {"ports", "info", "read", "write", "flash", "diff", "numbers export", "numbers import"}) {
        EXPECT_NE(help.out.find(std::string("\n  ") + command + " "), std::string::npos) << command;
    }
    for (const char* command : {"ports", "info", "read", "write", "flash", "diff", "numbers"}) {
        const CliResult own = runCli({command, "--help"}, dir);
        EXPECT_EQ(own.code, 0) << command;
        EXPECT_EQ(own.out.rfind(std::string("Использование:"), 0), 0u) << own.out;
        EXPECT_NE(own.out.find(command), std::string::npos) << own.out;
    }

    const CliResult ports = runCli({"ports", "--json"}, dir);
    EXPECT_EQ(ports.code, 0) << ports.err;
    const QJsonObject listed = ports.json();
    ASSERT_TRUE(listed["ports"].isArray()) << ports.out;
    for (const QJsonValue& port : listed["ports"].toArray()) {
        const QString state = port["state"].toString();
        EXPECT_TRUE(QStringList({"free", "busy", "no-permission", "missing"}).contains(state))
            << ports.out;
        EXPECT_TRUE(port["path"].toString().startsWith("/dev/")) << ports.out;
        EXPECT_EQ(port["fix"].isString(), state == "no-permission") << ports.out;
    }
}

TEST(CliFrame, ProgressBarDrawsOnATerminalOnly) {
    PtyPair pty;
    {
        ProgressBar bar("Запись номеров", 650, pty.slaveFd);
        EXPECT_TRUE(bar.active());
        bar.update(325);
        bar.update(325); // the same figure is not drawn again
        bar.update(650);
    }
    const std::string half = "\rЗапись номеров [###############---------------] 325 из 650";
    const std::string full = "\rЗапись номеров [##############################] 650 из 650";
    EXPECT_EQ(pty.drainMaster(), half + full + "\n");

    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    {
        ProgressBar bar("Запись номеров", 650, pipeFds[1]);
        EXPECT_FALSE(bar.active());
        bar.update(100);
    }
    ::close(pipeFds[1]);
    char byte = 0;
    EXPECT_EQ(::read(pipeFds[0], &byte, 1), 0); // nothing was written
    ::close(pipeFds[0]);
}
