// The vxrt7-sim program as the configurator and run.sh meet it: a real
// process, a real pseudo-terminal, the client side opened raw.
#include "raw_tty.h"
#include "tests/support/sim_process.h"

#include <array>
#include <csignal>
#include <cstdio>
#include <gtest/gtest.h>
#include <sys/wait.h>

using namespace simtest;

namespace {

bool exitedCleanly(int status) {
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string readLinkTarget(const std::string& path) {
    std::error_code ec;
    const auto target = std::filesystem::read_symlink(path, ec);
    return ec ? std::string() : target.string();
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// Runs the program to its end with `args`; returns its output (stdout and
// stderr together) and its exit code.
std::pair<std::string, int> runToEnd(const std::string& args) {
    const std::string command = std::string(VXRT7_SIM_PATH) + " " + args + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return {"popen failed", -1};
    }
    std::string out;
    char buffer[256];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        out.append(buffer, n);
    }
    const int status = ::pclose(pipe);
    return {out, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

TEST(SimProgramGreeting, AnswersConfoWithTheDefaultVersion) {
    SimProcess sim;
    ASSERT_TRUE(sim.ok()) << sim.error();
    EXPECT_EQ(sim.slavePath().rfind("/dev/pts/", 0), 0u) << sim.slavePath();
    RawTty tty(sim.slavePath());
    ASSERT_TRUE(tty.ok()) << std::strerror(tty.error());

    ASSERT_TRUE(tty.write("CONFO"));
    EXPECT_EQ(tty.read(10), greeting(30));
    EXPECT_EQ(tty.readFor(200ms), "") << "nothing follows the greeting";
}

TEST(SimProgramGreeting, CarriesTheVersionGivenOnTheCommandLine) {
    // 0 puts a zero byte in the middle of the greeting, 200 a byte above 127.
    for (const int version : {0, 7, 200, 255}) {
        SimProcess sim({"--fw-version", std::to_string(version)});
        ASSERT_TRUE(sim.ok()) << sim.error();
        RawTty tty(sim.slavePath());
        ASSERT_TRUE(tty.ok());
        ASSERT_TRUE(tty.write("CONFO"));
        EXPECT_EQ(tty.read(10), greeting(static_cast<unsigned char>(version))) << version;
    }
}

TEST(SimProgramGreeting, RecognisesTheCommandSplitOverTwoReads) {
    TempDir dir;
    const std::string trace = dir.file("in.bin");
    SimProcess sim({"--trace", trace});
    ASSERT_TRUE(sim.ok()) << sim.error();
    RawTty tty(sim.slavePath());
    ASSERT_TRUE(tty.ok());

    ASSERT_TRUE(tty.write("CON"));
    // The simulator has read the first part on its own before the rest is sent.
    ASSERT_TRUE(waitFileSize(trace, 3));
    EXPECT_EQ(tty.readFor(100ms), "") << "half a command is no command";
    ASSERT_TRUE(tty.write("FO"));
    EXPECT_EQ(tty.read(10), greeting(30));
}

TEST(SimProgramGreeting, SkipsGarbageAndPartialKeywordsBeforeTheCommand) {
    SimProcess sim;
    ASSERT_TRUE(sim.ok()) << sim.error();
    RawTty tty(sim.slavePath());
    ASSERT_TRUE(tty.ok());

    ASSERT_TRUE(tty.write(std::string("\x00\xff\r\nAT\r", 7) + "COCONCONFCONFO"));
    EXPECT_EQ(tty.read(10), greeting(30));
    EXPECT_EQ(tty.readFor(200ms), "") << "exactly one greeting";

    ASSERT_TRUE(tty.write("CONFOCONFO"));
    EXPECT_EQ(tty.read(20), greeting(30) + greeting(30));
}

TEST(SimProgramTrace, RecordsEveryByteReceivedAndSent) {
    TempDir dir;
    const std::string traceIn = dir.file("in.bin");
    const std::string traceOut = dir.file("out.bin");
    SimProcess sim({"--trace", traceIn, "--trace-out", traceOut});
    ASSERT_TRUE(sim.ok()) << sim.error();
    RawTty tty(sim.slavePath());
    ASSERT_TRUE(tty.ok());

    // Commands with their answers, then every byte value (no command in it).
    std::string everything;
    std::string answers;
    const std::array<std::pair<std::string, std::string>, 5> commands = {{
        {std::string("CONFR\x39\x30", 7), "Not corr"},
        {"READ 1234\r", "READOK"},
        {"CHPASS 1234 5678\r", "CHPASS"},
        {"CONFC\r", ""},
        {"AT\r", ""},
    }};
    for (const auto& [command, reply] : commands) {
        ASSERT_TRUE(tty.write(command));
        everything += command;
        EXPECT_EQ(tty.read(reply.size()), reply) << command;
        answers += reply;
    }
    std::string all(256, '\0');
    for (int b = 0; b < 256; ++b) {
        all[b] = static_cast<char>(b);
    }
    ASSERT_TRUE(tty.write(all));
    everything += all;
    ASSERT_TRUE(waitFileSize(traceIn, everything.size()));
    EXPECT_EQ(tty.readFor(200ms), "") << "no answer to noise";

    ASSERT_TRUE(tty.write("CONFO"));
    everything += "CONFO";
    EXPECT_EQ(tty.read(10), greeting(30));
    answers += greeting(30);

    // The received bytes are on disk before the reply leaves.
    EXPECT_EQ(fileBytes(traceIn), everything);
    ASSERT_TRUE(waitFileSize(traceOut, answers.size()));
    EXPECT_EQ(fileBytes(traceOut), answers);
}

TEST(SimProgramTrace, AppendsToAnExistingTrace) {
    TempDir dir;
    const std::string trace = dir.file("in.bin");
    { std::ofstream(trace, std::ios::binary) << "earlier|"; }
    SimProcess sim({"--trace", trace});
    ASSERT_TRUE(sim.ok()) << sim.error();
    RawTty tty(sim.slavePath());
    ASSERT_TRUE(tty.ok());
    ASSERT_TRUE(tty.write("CONFO"));
    EXPECT_EQ(tty.read(10), greeting(30));
    EXPECT_EQ(fileBytes(trace), "earlier|CONFO");
}

TEST(SimProgramLink, MakesTheLinkReplacingAStaleOneAndRemovesItOnSigterm) {
    TempDir dir;
    const std::string link = dir.file("tty");
    ASSERT_EQ(::symlink("/dev/pts/no-such-terminal", link.c_str()), 0);

    SimProcess sim({"--link", link});
    ASSERT_TRUE(sim.ok()) << sim.error();
    EXPECT_EQ(readLinkTarget(link), sim.slavePath());
    RawTty tty(link);
    ASSERT_TRUE(tty.ok()) << std::strerror(tty.error());
    ASSERT_TRUE(tty.write("CONFO"));
    EXPECT_EQ(tty.read(10), greeting(30));
    tty.close();

    EXPECT_TRUE(exitedCleanly(sim.stop(SIGTERM)));
    EXPECT_FALSE(exists(link));
}

TEST(SimProgramLink, RemovesTheLinkOnSigint) {
    TempDir dir;
    const std::string link = dir.file("tty");
    SimProcess sim({"--link", link});
    ASSERT_TRUE(sim.ok()) << sim.error();
    ASSERT_TRUE(exists(link));
    EXPECT_TRUE(exitedCleanly(sim.stop(SIGINT)));
    EXPECT_FALSE(exists(link));
}

TEST(SimProgramLink, LeavesAFileThatIsNotALinkAloneAndFails) {
    TempDir dir;
    const std::string path = dir.file("precious");
    { std::ofstream(path, std::ios::binary) << "keep me"; }
    SimProcess sim({"--link", path});
    EXPECT_FALSE(sim.ok());
    EXPECT_EQ(fileBytes(path), "keep me");
}

TEST(SimProgramLifetime, SurvivesTheClientClosingAndReopeningThePort) {
    SimProcess sim;
    ASSERT_TRUE(sim.ok()) << sim.error();
    for (int round = 0; round < 3; ++round) {
        RawTty tty(sim.slavePath());
        ASSERT_TRUE(tty.ok()) << "round " << round << ": " << std::strerror(tty.error());
        ASSERT_TRUE(tty.write("CONFO"));
        EXPECT_EQ(tty.read(10), greeting(30)) << "round " << round;
    }
    EXPECT_TRUE(sim.alive());
    EXPECT_TRUE(exitedCleanly(sim.stop()));
}

TEST(SimProgramCommandLine, HelpAndVersion) {
    const auto [help, helpCode] = runToEnd("--help");
    EXPECT_EQ(helpCode, 0);
    for (const char* option :
         {"--link",        "--fw-version",   "--trace",          "--trace-out",
          "--baud",        "--tcp",          "--retry",          "--password",
          "--capacity",    "--config",       "--numbers",        "--dump",
          "--no-reply-at", "--mute-from",    "--corrupt-packet", "--read-stops-after",
          "--refuse-ntf",  "--repeat-batch", "--memory-full",    "--say"}) {
        EXPECT_NE(help.find(option), std::string::npos) << option;
    }
    const auto [version, versionCode] = runToEnd("--version");
    EXPECT_EQ(versionCode, 0);
    EXPECT_EQ(version, std::string("vxrt7-sim ") + VXRT7_VERSION + "\n");
}

TEST(SimProgramCommandLine, RefusesBadArgumentsWithoutStarting) {
    for (const char* args : {"--fw-version 256", "--fw-version -1", "--fw-version 3x", "--link",
                             "--frobnicate", "--baud 0", "--split 0", "--tcp nowhere",
                             "--numbers /nonexistent/vxrt7-numbers", "--config /dev/null"}) {
        const auto [out, code] = runToEnd(args);
        EXPECT_EQ(code, 2) << args;
        EXPECT_EQ(out.find("/dev/pts/"), std::string::npos) << args;
        EXPECT_NE(out.find("vxrt7-sim: "), std::string::npos) << args << ": " << out;
    }
}

} // namespace
