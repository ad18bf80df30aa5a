// Port discovery over a made-up /sys/class/tty and /dev whose entries lead to
// real pseudo-terminals.
#include "comm/port_discovery.h"
#include "tests/comm/fake_port_tree.h"
#include "tests/support/device_holder.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <pty.h>
#include <sys/file.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct Pty {
    int master = -1;
    int slave = -1;
    std::string path;
    Pty() {
        char name[128] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
            ADD_FAILURE() << "openpty failed";
        }
        path = name;
    }
    ~Pty() {
        ::close(slave);
        ::close(master);
    }
};

struct FakeTree : FakePortTree {
    FakeTree() : FakePortTree("vxrt7-ports") {}
};

} // namespace

TEST(FindPorts, ListsFreeDevicesInNameAndNumberOrderOnly) {
    FakeTree tree;
    Pty usb2, usb10, acm0, held, openElsewhere, virtualTty;
    tree.addPort("ttyUSB10", usb10.path);
    tree.addPort("ttyUSB2", usb2.path);
    tree.addPort("ttyACM0", acm0.path);
    tree.addPort("ttyUSB5", held.path);
    tree.addPort("ttyUSB7", openElsewhere.path);
    tree.addPort("tty7", virtualTty.path, /*withDevice=*/false);
    // An on-board port with no UART behind it (a pseudo-terminal has no serial info).
    Pty noUart;
    tree.addPort("ttyS0", noUart.path);
    // A node whose device is gone.
    tree.addPort("ttyUSB9", (tree.root / "missing").string());

    // Another program holds ttyUSB5.
    const int holder = ::open(held.path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    // And another has ttyUSB7 open without a lock.
    auto reader = std::make_unique<DeviceHolder>(openElsewhere.path);
    ASSERT_TRUE(reader->ok()) << reader->error();

    const auto ports = Find_Ports(tree.sys.string(), tree.dev.string());
    EXPECT_EQ(ports, (std::vector<std::string>{"ttyACM0", "ttyUSB2", "ttyUSB10"}));

    // Once released they are offered again.
    ::close(holder);
    reader.reset();
    const auto again = Find_Ports(tree.sys.string(), tree.dev.string());
    EXPECT_EQ(again,
              (std::vector<std::string>{"ttyACM0", "ttyUSB2", "ttyUSB5", "ttyUSB7", "ttyUSB10"}));
}

TEST(FindPorts, NoSysfsGivesAnEmptyList) {
    EXPECT_TRUE(Find_Ports("/nonexistent/sys/class/tty", "/dev").empty());
}
