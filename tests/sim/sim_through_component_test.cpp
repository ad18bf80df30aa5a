// The simulator program answers the greeting through the serial port component.
#include "comm/tcomm.h"
#include "tests/support/manual_dispatcher.h"
#include "tests/support/sim_process.h"

#include <gtest/gtest.h>

TEST(SimThroughComponent, AnswersTheGreetingWithVersionAndHash) {
    SimProcess sim({"--fw-version", "77"});
    ASSERT_TRUE(sim.ok()) << sim.error();

    ManualDispatcher dispatcher;
    TComm port{dispatcher};
    port.SetBaudRate(br115200);
    std::uint32_t announced = 0;
    port.OnRxChar = [&](TThreadComm*, std::uint32_t count) { announced = count; };
    port.SetDeviceName(sim.slavePath());
    port.Open();
    ASSERT_TRUE(port.Enabled());

    ASSERT_EQ(port.Write("CONFO", 5), 5);
    ASSERT_TRUE(dispatcher.runUntil([&] { return announced >= 10; }, 3000)) << announced;
    char reply[32] = {};
    ASSERT_EQ(port.Read(reply, sizeof reply), 10);
    EXPECT_EQ(std::string(reply, 10), std::string("VELIRAN ") + char(77) + "#");
    port.Close();
}
