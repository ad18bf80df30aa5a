// The window's caption as a real X11 desktop shows it: the program on the xcb
// platform against an Xvfb server, the caption read back with xprop.
#include "app/tform1_ui.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string commandOutput(const std::string& command) {
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            out.append(buffer, n);
        }
        ::pclose(pipe);
    }
    return out;
}

// An Xvfb server on a display it chooses; display() is empty when none started.
class Xvfb {
  public:
    Xvfb() {
        if (::access("/usr/bin/Xvfb", X_OK) != 0) {
            return;
        }
        // A display number no other server holds.
        int number = 100 + ::getpid() % 800;
        while (::access(("/tmp/.X11-unix/X" + std::to_string(number)).c_str(), F_OK) == 0 ||
               ::access(("/tmp/.X" + std::to_string(number) + "-lock").c_str(), F_OK) == 0) {
            ++number;
        }
        const std::string display = ":" + std::to_string(number);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::execl("/usr/bin/Xvfb", "Xvfb", display.c_str(), "-nolisten", "tcp", "-screen", "0",
                    "1024x768x24", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
        if (QTest::qWaitFor([&] { return ::access(socket.c_str(), F_OK) == 0; }, 10000)) {
            display_ = display;
        }
    }
    ~Xvfb() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    const std::string& display() const { return display_; }

  private:
    pid_t pid_ = -1;
    std::string display_;
};

} // namespace

TEST(X11Title, TheDesktopShowsTheDesignedCaptionAlone) {
    Xvfb x;
    if (x.display().empty()) {
        GTEST_SKIP() << "Xvfb could not be started (is the xvfb package installed?)";
    }
    QTemporaryDir dir; // the program's copy, so its settings land there
    const QString program = dir.filePath(QStringLiteral("vxrt7-config"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(VXRT7_CONFIG_PATH), program));
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        ::setenv("DISPLAY", x.display().c_str(), 1);
        const QByteArray exe = program.toLocal8Bit();
        ::execl(exe.constData(), exe.constData(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    const std::string env = "DISPLAY=" + x.display() + " ";
    std::string id;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            // "     0x1c00007 "Ключ GSM …": ("vxrt7-config" "vxrt7-config") …"
            const std::string tree = commandOutput(env + "xwininfo -root -tree 2>/dev/null");
            const auto at = tree.find("VX-RT-7");
            if (at == std::string::npos) {
                return false;
            }
            const auto hex = tree.rfind("0x", at);
            id = tree.substr(hex, tree.find(' ', hex) - hex);
            return true;
        },
        30000))
        << "no window of the program appeared on " << x.display() << ":\n"
        << commandOutput(env + "xwininfo -root -tree 2>&1");
    const std::string name = commandOutput(env + "xprop -id " + id + " _NET_WM_NAME");
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    EXPECT_EQ(name, "_NET_WM_NAME(UTF8_STRING) = \"Ключ GSM VX-RT-7 \\\"Велиран\\\" v3.0\"\n");
}
