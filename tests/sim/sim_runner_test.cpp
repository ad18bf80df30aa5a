// The simulator in-process: the pseudo-terminal served on a background thread,
// with the record of the bytes that crossed the line.
#include "raw_tty.h"
#include "sim/options.h"
#include "sim/sim_runner.h"

#include <gtest/gtest.h>
#include <stdexcept>

using namespace simtest;

namespace {

TEST(SimRunner, ServesTheTerminalAndRecordsBothDirections) {
    sim::SimRunner runner;
    runner.start();
    ASSERT_TRUE(runner.running());
    RawTty tty(runner.slavePath());
    ASSERT_TRUE(tty.ok()) << std::strerror(tty.error());

    ASSERT_TRUE(tty.write("ATCONFO"));
    EXPECT_EQ(tty.read(10), greeting(30));
    ASSERT_TRUE(runner.waitForSent(10, 5s));
    EXPECT_EQ(runner.received(), "ATCONFO");
    EXPECT_EQ(runner.sent(), greeting(30));

    runner.clearRecord();
    ASSERT_TRUE(tty.write("READ 1\r"));
    ASSERT_TRUE(runner.waitForReceived(7, 5s));
    EXPECT_EQ(runner.received(), "READ 1\r");
    EXPECT_EQ(runner.sent(), "");

    runner.stop();
    EXPECT_FALSE(runner.running());
    EXPECT_EQ(runner.failure(), "");
}

TEST(SimRunner, FaultsCanBeSwitchedWhileRunning) {
    sim::SimRunner runner;
    runner.start();
    RawTty tty(runner.slavePath());
    ASSERT_TRUE(tty.ok());

    runner.withDevice([](sim::SimDevice& d) { d.faults().noReply = true; });
    ASSERT_TRUE(tty.write("CONFO"));
    ASSERT_TRUE(runner.waitForReceived(5, 5s));
    EXPECT_EQ(tty.readFor(150ms), "");

    runner.withDevice([](sim::SimDevice& d) {
        d.faults().noReply = false;
        d.faults().splitReplyBytes = 3;
        d.faults().splitGap = std::chrono::milliseconds(5);
    });
    ASSERT_TRUE(tty.write("CONFO"));
    EXPECT_EQ(tty.read(10), greeting(30));
    ASSERT_TRUE(runner.waitForSent(10, 5s));
    const std::vector<std::string> writes = {"VEL", "IRA", std::string("N \x1e", 3), "#"};
    EXPECT_EQ(runner.sentWrites(), writes);
}

TEST(SimRunner, PacedLineStillDeliversEveryByte) {
    sim::SimRunner::Options options;
    options.pacing.baud = 9600;
    options.pacing.processingDelay = std::chrono::milliseconds(2);
    options.faults.splitReplyBytes = 4;
    options.faults.splitGap = std::chrono::milliseconds(1);
    sim::SimRunner runner(options);
    runner.start();
    RawTty tty(runner.slavePath());
    ASSERT_TRUE(tty.ok());
    ASSERT_TRUE(tty.write("CONF"));
    ASSERT_TRUE(tty.write("OCONFO"));
    EXPECT_EQ(tty.read(20), greeting(30) + greeting(30));
}

TEST(SimRunner, LinkLivesAsLongAsTheRunner) {
    TempDir dir;
    sim::SimRunner::Options options;
    options.linkPath = dir.file("tty");
    sim::SimRunner runner(options);
    runner.start();
    std::error_code ec;
    EXPECT_EQ(std::filesystem::read_symlink(options.linkPath, ec).string(), runner.slavePath());
    runner.stop();
    EXPECT_FALSE(std::filesystem::is_symlink(options.linkPath, ec));
}

TEST(SimRunner, StartFailsCleanlyWhenTheLinkCannotBeMade) {
    sim::SimRunner::Options options;
    options.linkPath = "/nonexistent-folder-of-vxrt7/tty";
    sim::SimRunner runner(options);
    EXPECT_THROW(runner.start(), std::runtime_error);
    EXPECT_FALSE(runner.running());
    runner.stop(); // harmless after a failed start
}

TEST(SimPacing, ChargesTenBitsAByteRoundedUp) {
    sim::Pacing off;
    EXPECT_EQ(off.wireTime(1000).count(), 0);
    sim::Pacing p{.baud = 9600};
    EXPECT_EQ(p.wireTime(96), std::chrono::milliseconds(100));
    EXPECT_EQ(p.wireTime(0).count(), 0);
    sim::Pacing fast{.baud = 115200};
    EXPECT_EQ(fast.wireTime(1).count(), 87); // 86.8 us
    EXPECT_EQ(fast.wireTime(11520), std::chrono::seconds(1));
}

TEST(SimCommandLine, ReadsEveryOptionInBothSpellings) {
    const auto cl = sim::parseCommandLine({"--link", "/tmp/x", "--fw-version=7", "--trace", "in",
                                           "--trace-out=out", "--baud", "9600", "--delay-ms=15",
                                           "--split", "3", "--no-reply"});
    ASSERT_EQ(cl.action, sim::CommandLine::Action::Run) << cl.error;
    EXPECT_EQ(cl.options.linkPath, "/tmp/x");
    EXPECT_EQ(cl.options.firmwareVersion, 7);
    EXPECT_EQ(cl.options.traceIn, "in");
    EXPECT_EQ(cl.options.traceOut, "out");
    EXPECT_EQ(cl.options.pacing.baud, 9600u);
    EXPECT_EQ(cl.options.pacing.processingDelay, std::chrono::milliseconds(15));
    EXPECT_EQ(cl.options.faults.splitReplyBytes, 3u);
    EXPECT_TRUE(cl.options.faults.noReply);

    const auto defaults = sim::parseCommandLine({});
    EXPECT_EQ(defaults.action, sim::CommandLine::Action::Run);
    EXPECT_EQ(defaults.options.firmwareVersion, 30);
    EXPECT_FALSE(defaults.options.pacing.paced());
}

TEST(SimCommandLine, RejectsValuesOutOfRangeOrMalformed) {
    for (const auto& args : std::vector<std::vector<std::string>>{{"--fw-version", "256"},
                                                                  {"--fw-version", "+1"},
                                                                  {"--fw-version", ""},
                                                                  {"--fw-version", " 1"},
                                                                  {"--trace"},
                                                                  {"--trace="},
                                                                  {"--no-reply=1"},
                                                                  {"--delay-ms", "60001"},
                                                                  {"-x"}}) {
        const auto cl = sim::parseCommandLine(args);
        EXPECT_EQ(cl.action, sim::CommandLine::Action::Fail) << args[0];
        EXPECT_FALSE(cl.error.empty());
    }
    EXPECT_EQ(sim::parseCommandLine({"--fw-version", "1", "--help"}).action,
              sim::CommandLine::Action::Help);
}

} // namespace
