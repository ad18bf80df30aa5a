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
    EXPECT_EQ(tty.read(8), "Not corr");
    ASSERT_TRUE(runner.waitForSent(8, 5s));
    EXPECT_EQ(runner.received(), "READ 1\r");
    EXPECT_EQ(runner.sent(), "Not corr");

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

TEST(SimRunner, PacingChargesTheCommandAndTheReplyTheirWireTime) {
    // 1000 baud: 10 ms a byte. "CONFO" takes 50 ms to arrive before the device
    // may answer, the greeting 100 ms to leave: never less than 150 ms.
    sim::SimRunner::Options options;
    options.pacing.baud = 1000;
    sim::SimRunner runner(options);
    runner.start();
    RawTty tty(runner.slavePath());
    ASSERT_TRUE(tty.ok());
    const auto before = std::chrono::steady_clock::now();
    ASSERT_TRUE(tty.write("CONFO"));
    EXPECT_EQ(tty.read(10), greeting(30));
    EXPECT_GE(std::chrono::steady_clock::now() - before, 145ms);
}

TEST(SimRunner, SaysTextUnaskedAndAfterTheFirstGreeting) {
    sim::SimRunner::Options options;
    options.sayAfterLink = "Trevoga";
    options.sayDelay = 20ms;
    sim::SimRunner runner(options);
    runner.start();
    RawTty tty(runner.slavePath());
    ASSERT_TRUE(tty.ok());
    EXPECT_EQ(tty.readFor(100ms), "") << "nothing before the link";
    ASSERT_TRUE(tty.write("CONFO"));
    EXPECT_EQ(tty.read(17), greeting(30) + "Trevoga");
    ASSERT_TRUE(tty.write("CONFO"));
    EXPECT_EQ(tty.read(10), greeting(30));

    runner.say("+KEY: 0123456789AB");
    EXPECT_EQ(tty.read(18), "+KEY: 0123456789AB");
    EXPECT_EQ(tty.readFor(100ms), "");
}

TEST(SimRunner, SnapshotShowsWhatTheDeviceWasSent) {
    sim::SimRunner runner;
    runner.start();
    RawTty tty(runner.slavePath());
    ASSERT_TRUE(tty.ok());
    ASSERT_TRUE(tty.write("RT+NTF=0,9161234567,12\r"));
    EXPECT_EQ(tty.read(6), "+NTF:1");
    ASSERT_TRUE(tty.write("CHPASS 1234 777\r"));
    EXPECT_EQ(tty.read(6), "CHPASS");
    const sim::DeviceState state = runner.snapshot();
    EXPECT_EQ(state.password(), 777);
    ASSERT_EQ(state.storedNumbers().size(), 1u);
    EXPECT_EQ(state.storedNumbers()[0].second, (sim::NumberEntry{"9161234567", 12}));
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

TEST(SimCommandLine, ReadsTheDeviceTcpAndFaultOptions) {
    const auto cl = sim::parseCommandLine({"--tcp",
                                           "[::1]:10000",
                                           "--retry=250",
                                           "--password",
                                           "0042",
                                           "--capacity",
                                           "30",
                                           "--config",
                                           "c.hex",
                                           "--numbers=n.txt",
                                           "--dump",
                                           "d.txt",
                                           "--no-reply-at",
                                           "RT+NTF:3",
                                           "--corrupt-packet",
                                           "2",
                                           "--read-stops-after=3",
                                           "--refuse-ntf=4",
                                           "--repeat-batch",
                                           "5",
                                           "--memory-full",
                                           "--say",
                                           "BUSY",
                                           "--say-delay-ms",
                                           "0",
                                           "--split-gap-ms",
                                           "7"});
    ASSERT_EQ(cl.action, sim::CommandLine::Action::Run) << cl.error;
    const sim::SimOptions& o = cl.options;
    ASSERT_TRUE(o.tcp.has_value());
    EXPECT_EQ(o.tcp->host, "::1");
    EXPECT_EQ(o.tcp->port, 10000u);
    EXPECT_EQ(o.retry, 250ms);
    EXPECT_EQ(o.password, std::optional<std::uint16_t>(42));
    EXPECT_EQ(o.capacity, 30u);
    EXPECT_EQ(o.configFile, "c.hex");
    EXPECT_EQ(o.numbersFile, "n.txt");
    EXPECT_EQ(o.dumpFile, "d.txt");
    EXPECT_EQ(o.faults.silence, (sim::StepFault{sim::StepFault::Mode::SkipOne, "RT+NTF", 3}));
    EXPECT_EQ(o.faults.corruptPacketAt, 2u);
    EXPECT_EQ(o.faults.readStopsAfter, 3u);
    EXPECT_EQ(o.faults.refuseNtfAt, 4u);
    EXPECT_EQ(o.faults.repeatBatchAt, 5u);
    EXPECT_TRUE(o.faults.memoryFull);
    EXPECT_EQ(o.say, "BUSY");
    EXPECT_EQ(o.sayDelay, 0ms);
    EXPECT_EQ(o.faults.splitGap, 7ms);

    const auto mute = sim::parseCommandLine({"--mute-from", "ADN:2"});
    ASSERT_EQ(mute.action, sim::CommandLine::Action::Run) << mute.error;
    EXPECT_EQ(mute.options.faults.silence,
              (sim::StepFault{sim::StepFault::Mode::GoSilent, "ADN", 2}));
}

TEST(SimCommandLine, RefusesBadTcpTargetsStepFaultsAndMixtures) {
    for (const auto& args : std::vector<std::vector<std::string>>{{"--tcp", "127.0.0.1"},
                                                                  {"--tcp", ":80"},
                                                                  {"--tcp", "host:0"},
                                                                  {"--tcp", "host:65536"},
                                                                  {"--tcp", "[::1:80"},
                                                                  {"--tcp", "host:8x"},
                                                                  {"--no-reply-at", "RT+NTF"},
                                                                  {"--no-reply-at", "FOO:1"},
                                                                  {"--mute-from", "ADN:0"},
                                                                  {"--read-stops-after", "0"},
                                                                  {"--retry", "100"},
                                                                  {"--tcp", "h:1", "--link", "x"},
                                                                  {"--password", "65536"},
                                                                  {"--capacity", "-1"},
                                                                  {"--memory-full=1"},
                                                                  {"--say", ""},
                                                                  {"--dump="}}) {
        const auto cl = sim::parseCommandLine(args);
        EXPECT_EQ(cl.action, sim::CommandLine::Action::Fail) << args[0] << " " << args.back();
        EXPECT_FALSE(cl.error.empty());
    }
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

namespace {

// Random splitting keeps every byte in order, in pieces of 1 to 16 bytes no
// further apart than the gap, and repeats itself for the same seed.
TEST(SimOptions, RandomSplitAndReplyDelay) {
    const auto cl = sim::parseCommandLine(
        {"--split-random", "42", "--split-gap-ms", "3", "--reply-delay", "20"});
    ASSERT_EQ(cl.action, sim::CommandLine::Action::Run) << cl.error;
    EXPECT_EQ(cl.options.pacing.processingDelay, std::chrono::milliseconds{20});
    auto piecesOf = [&] {
        sim::SimDevice device;
        device.faults() = cl.options.faults;
        return device.feed(std::string("CONFR\xD2\x04", 7));
    };
    const sim::Reply pieces = piecesOf();
    EXPECT_EQ(sim::joined(pieces).size(), 73u);
    EXPECT_GT(pieces.size(), 73u / 16);
    for (const auto& piece : pieces) {
        EXPECT_GE(piece.bytes.size(), 1u);
        EXPECT_LE(piece.bytes.size(), 16u);
        EXPECT_LE(piece.delayBefore, std::chrono::milliseconds{3});
    }
    const sim::Reply again = piecesOf();
    ASSERT_EQ(again.size(), pieces.size());
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        EXPECT_EQ(again[i].bytes, pieces[i].bytes);
        EXPECT_EQ(again[i].delayBefore, pieces[i].delayBefore);
    }
    EXPECT_EQ(sim::parseCommandLine({"--split-random", "0"}).action,
              sim::CommandLine::Action::Fail);
}

} // namespace
