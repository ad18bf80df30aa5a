#include "comm/port_discovery.h"
#include "comm/port_names.h"

#include <algorithm>
#include <gtest/gtest.h>

TEST(PortNames, DevicePathsForEveryKindOfName) {
    EXPECT_EQ(devicePathForPort("ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(devicePathForPort("/dev/serial/by-id/usb-FTDI-if00"),
              "/dev/serial/by-id/usb-FTDI-if00");
    EXPECT_EQ(devicePathForPort("/tmp/vxrt7-tty"), "/tmp/vxrt7-tty");
    // Windows names from old settings files mean the on-board ports.
    EXPECT_EQ(devicePathForPort("COM1"), "/dev/ttyS0");
    EXPECT_EQ(devicePathForPort("com3"), "/dev/ttyS2");
    EXPECT_EQ(devicePathForPort("COM31"), "/dev/ttyS30");
    // Not a COM number: taken as a name under /dev, never crashed on.
    EXPECT_EQ(devicePathForPort("COM0"), "/dev/COM0");
    EXPECT_EQ(devicePathForPort("COMX"), "/dev/COMX");
    EXPECT_EQ(devicePathForPort("COM99999999999"), "/dev/COM99999999999");
    EXPECT_EQ(devicePathForPort(""), "");
}

TEST(PortNames, OrderIsByNameThenNumber) {
    std::vector<std::string> names = {"ttyUSB10", "ttyS10", "ttyUSB2", "ttyACM0", "ttyS2", "ttyS0"};
    std::sort(names.begin(), names.end(), portNameLess);
    EXPECT_EQ(names, (std::vector<std::string>{"ttyACM0", "ttyS0", "ttyS2", "ttyS10", "ttyUSB2",
                                               "ttyUSB10"}));
}
