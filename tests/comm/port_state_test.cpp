// The state of every serial port as the command line lists it, over a
// made-up /sys/class/tty and /dev whose entries lead to real pseudo-terminals.
#include "comm/port_state.h"
#include "comm/tcomm.h"
#include "tests/comm/fake_port_tree.h"

#include "tests/support/child_test.h"
#include "tests/support/device_holder.h"
#include "tests/support/manual_dispatcher.h"
#include "tests/support/pty_pair.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <grp.h>
#include <gtest/gtest.h>
#include <memory>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct FakeTree : FakePortTree {
    FakeTree() : FakePortTree("vxrt7-state") {}
    std::vector<PortStatus> describe() const {
        return describePorts(sys.string(), dev.string(), byId.string());
    }
};

// Another process that opens `path` and holds its lock until killed.
pid_t holdLocked(const std::string& path) {
    int ready[2];
    if (::pipe(ready) != 0) {
        return -1;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
        const char ok = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? '1' : '0';
        (void)::write(ready[1], &ok, 1);
        ::pause();
        ::_exit(0);
    }
    char ok = '0';
    (void)::read(ready[0], &ok, 1);
    ::close(ready[0]);
    ::close(ready[1]);
    return ok == '1' ? pid : -1;
}

} // namespace

TEST(PortState, EveryPortWithItsStateWhoHoldsItAndItsStableName) {
    FakeTree tree;
    PtyPair free, locked, exclusive, virtualTty, heldOpen;
    tree.addPort("ttyUSB0", free.slavePath);
    tree.addPort("ttyUSB1", locked.slavePath);
    tree.addPort("ttyUSB2", heldOpen.slavePath); // open in another program, which takes no lock
    tree.addPort("ttyACM0", exclusive.slavePath);
    tree.addPort("tty7", virtualTty.slavePath, /*withDevice=*/false);
    tree.addPort("ttyUSB9", (tree.root / "unplugged").string());
    fs::create_symlink("../dev/ttyUSB0", tree.byId / "usb-FTDI_FT232R_A50285BI-if00-port0");

    const pid_t holder = holdLocked(locked.slavePath);
    ASSERT_GT(holder, 0);
    ASSERT_EQ(::ioctl(exclusive.slaveFd, TIOCEXCL), 0);
    auto reader = std::make_unique<DeviceHolder>(heldOpen.slavePath);
    ASSERT_TRUE(reader->ok()) << reader->error();

    const auto ports = tree.describe();
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);

    ASSERT_EQ(ports.size(), 5u);
    EXPECT_EQ(ports[0].name, "ttyACM0");
    EXPECT_EQ(ports[0].access, PortAccess::Busy);
    EXPECT_EQ(ports[1].name, "ttyUSB0");
    EXPECT_EQ(ports[1].access, PortAccess::Free);
    EXPECT_EQ(ports[1].path, (tree.dev / "ttyUSB0").string());
    EXPECT_EQ(ports[1].byIds, std::vector<std::string>{
                                  (tree.byId / "usb-FTDI_FT232R_A50285BI-if00-port0").string()});
    EXPECT_EQ(ports[2].name, "ttyUSB1");
    EXPECT_EQ(ports[2].access, PortAccess::Busy);
    EXPECT_NE(ports[2].holder.find("(pid " + std::to_string(holder) + ")"), std::string::npos)
        << ports[2].holder;
    EXPECT_TRUE(ports[2].byIds.empty());
    EXPECT_EQ(ports[3].name, "ttyUSB2");
    EXPECT_EQ(ports[3].access, PortAccess::Busy);
    EXPECT_EQ(ports[3].holder, "sleep (pid " + std::to_string(reader->pid()) + ")");
    EXPECT_EQ(ports[4].name, "ttyUSB9");
    EXPECT_EQ(ports[4].access, PortAccess::Missing);
    reader.reset();

    // Released, both are free again, and probing took no lock of its own.
    ASSERT_EQ(::ioctl(exclusive.slaveFd, TIOCNXCL), 0);
    const auto again = tree.describe();
    EXPECT_EQ(again[0].access, PortAccess::Free);
    EXPECT_EQ(again[2].access, PortAccess::Free);
    EXPECT_EQ(again[3].access, PortAccess::Free);
    EXPECT_EQ(::flock(free.slaveFd, LOCK_EX | LOCK_NB), 0);
}

// A script reads a state under one name, whether the list of ports shows it
// or the open of a device command meets it.
TEST(PortState, EachStateHasOneNameInTheListAndInTheOpen) {
    FakeTree tree;
    tree.addPort("ttyUSB0", (tree.root / "unplugged").string());
    const auto ports = tree.describe();
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(ports[0].access, PortAccess::Missing);
    ManualDispatcher dispatcher;
    TComm serial{dispatcher};
    const comm::OpenResult gone = serial.open(ports[0].path);
    EXPECT_EQ(gone.error, comm::OpenError::NotFound);
    EXPECT_STREQ(comm::openErrorName(gone.error), accessKey(ports[0].access));
    const comm::OpenResult notSerial = serial.open("/dev/null");
    EXPECT_EQ(notSerial.error, comm::OpenError::NotSerial);
    EXPECT_STREQ(comm::openErrorName(notSerial.error), accessKey(PortAccess::NotSerial));
}

// The fix names a group only when joining it would help: one that may read
// and write the port. Otherwise it says what the mode is and how to change it.
TEST(PortState, APortThisUserMayNotOpenNamesTheGroupAndTheFix) {
    if (const char* port = std::getenv("VXRT7_PORT_WITHOUT_ACCESS")) {
        const char* ownerOnly = std::getenv("VXRT7_PORT_OWNER_ONLY");
        ASSERT_NE(ownerOnly, nullptr);
        FakeTree tree;
        tree.addPort("ttyUSB0", port);
        tree.addPort("ttyUSB1", ownerOnly);
        const auto ports = tree.describe();
        ASSERT_EQ(ports.size(), 2u);
        EXPECT_EQ(ports[0].access, PortAccess::NoPermission);
        EXPECT_NE(ports[0].fix.find("он принадлежит группе dialout. Добавьте пользователя в "
                                    "группу dialout (sudo usermod -aG dialout $USER)"),
                  std::string::npos)
            << ports[0].fix;
        EXPECT_EQ(ports[1].access, PortAccess::NoPermission);
        const std::string path = (tree.dev / "ttyUSB1").string();
        EXPECT_EQ(ports[1].fix, "Нет доступа к порту " + path +
                                    ": права 600 (rw-------), владелец root, группа root: читать "
                                    "и писать в него может только владелец. Разрешите доступ: "
                                    "sudo chmod a+rw " +
                                    path +
                                    " (до переподключения устройства; насовсем: правилом udev с "
                                    "MODE=\"0666\")");
        // A script reads the same cause under the same name from the list of
        // ports and from the open a device command makes.
        ManualDispatcher dispatcher;
        TComm serial{dispatcher};
        const comm::OpenResult opened = serial.open(port);
        EXPECT_EQ(opened.error, comm::OpenError::NoPermission);
        EXPECT_STREQ(comm::openErrorName(opened.error), accessKey(ports[0].access));
        return;
    }
    const group* dialout = ::getgrnam("dialout");
    if (::getuid() != 0 || dialout == nullptr) {
        GTEST_SKIP() << "needs root and a group dialout to make a port another user may not open";
    }
    PtyPair pty, rootOnly;
    ASSERT_EQ(::chown(pty.slavePath.c_str(), 0, dialout->gr_gid), 0);
    ASSERT_EQ(::chmod(pty.slavePath.c_str(), 0660), 0);
    ASSERT_EQ(::chown(rootOnly.slavePath.c_str(), 0, 0), 0);
    ASSERT_EQ(::chmod(rootOnly.slavePath.c_str(), 0600), 0);
    ChildTest other("PortState.APortThisUserMayNotOpenNamesTheGroupAndTheFix",
                    {{"VXRT7_PORT_WITHOUT_ACCESS", pty.slavePath},
                     {"VXRT7_PORT_OWNER_ONLY", rootOnly.slavePath}},
                    true);
    EXPECT_EQ(other.wait(), 0) << other.output();
    EXPECT_NE(other.output().find("[  PASSED  ] 1 test"), std::string::npos) << other.output();
}
