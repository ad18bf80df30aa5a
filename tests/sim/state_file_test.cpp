// The simulator's state files: the dump a test compares with the window, and
// the numbers and block files that preload a device.
#include "raw_tty.h"
#include "sim/state_file.h"
#include "wire_helpers.h"

#include <gtest/gtest.h>

using sim::DeviceState;
using sim::NumberEntry;
using namespace simtest;

namespace {

TEST(SimStateDump, ListsTheStateAndEveryStoredCell) {
    DeviceState state;
    state.setPassword(42);
    state.accessPoint = "internet.beeline.ru\",\"beeline";
    state.bootloaderMode = true;
    state.numbers.resize(4);
    state.numbers[0] = {"9161234567", 12};
    state.numbers[3] = {"123", 0};
    const std::string dump = sim::dumpState(state);
    EXPECT_NE(dump.find("password=42\n"), std::string::npos) << dump;
    EXPECT_NE(dump.find("\nblock=2a00000388130000320000000114140503"), std::string::npos) << dump;
    EXPECT_NE(dump.find("\napn=internet.beeline.ru\",\"beeline\n"), std::string::npos) << dump;
    EXPECT_NE(dump.find("\nbootloader=1\n"), std::string::npos);
    EXPECT_NE(dump.find("\ncapacity=650\n"), std::string::npos);
    const auto tail = dump.substr(dump.find("numbers="));
    EXPECT_EQ(tail, "numbers=2\n0;9161234567;12\n3;123;0\n");
}

TEST(SimStateDump, ReadsBackWhatItWroteEvenForOddBytes) {
    DeviceState state;
    state.setPassword(65535);
    for (std::size_t i = 2; i < state.configBlock.size(); ++i) {
        state.configBlock[i] = static_cast<std::uint8_t>(255 - i);
    }
    state.accessPoint = std::string("a\\b\nc\xC0;", 7);
    state.firmwareVersion = 200;
    state.loaderVersion = 0;
    state.programmedImage = {0x00, 0xFF, 0x0A, 0x3D};
    state.numberCapacity = 20;
    state.numbers = {{std::string("1;2\n\\\xFF", 6), 65535}, {}, {"7", 7}};
    DeviceState back;
    std::string error;
    ASSERT_TRUE(sim::parseStateDump(sim::dumpState(state), &back, &error)) << error;
    EXPECT_EQ(back.configBlock, state.configBlock);
    EXPECT_EQ(back.accessPoint, state.accessPoint);
    EXPECT_EQ(back.firmwareVersion, 200);
    EXPECT_EQ(back.loaderVersion, 0);
    EXPECT_EQ(back.programmedImage, state.programmedImage);
    EXPECT_FALSE(back.bootloaderMode);
    EXPECT_EQ(back.numberCapacity, 20u);
    EXPECT_EQ(back.storedNumbers(), state.storedNumbers());
}

TEST(SimStateDump, RefusesAnInconsistentDump) {
    const std::string good = sim::dumpState(stateWith({{"1", 1}}));
    DeviceState out;
    std::string error;
    ASSERT_TRUE(sim::parseStateDump(good, &out, &error)) << error;
    for (const auto& [from, to] :
         std::vector<std::pair<std::string, std::string>>{{"numbers=1", "numbers=2"},
                                                          {"password=1234", "password=1235"},
                                                          {"0;1;1", "0;1;70000"},
                                                          {"0;1;1", "0;\\x4;1"},
                                                          {"block=d2", "block=d"},
                                                          {"bootloader=0", "bootloader=2"}}) {
        std::string bad = good;
        bad.replace(bad.find(from), from.size(), to);
        EXPECT_FALSE(sim::parseStateDump(bad, &out, &error)) << to;
    }
}

TEST(SimStateDump, FileAppearsWhole) {
    TempDir dir;
    const std::string path = dir.file("state.txt");
    std::string error;
    ASSERT_TRUE(sim::writeStateDump(path, stateWith(sampleNumbers(3)), &error)) << error;
    EXPECT_EQ(fileBytes(path), sim::dumpState(stateWith(sampleNumbers(3))));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              1)
        << "no temporary file left";
    EXPECT_FALSE(sim::writeStateDump(dir.file("no/such/dir"), DeviceState{}, &error));
    EXPECT_FALSE(error.empty());
}

TEST(SimNumbersFile, TakesCellsGivenOrTheNextFreeOne) {
    DeviceState state;
    std::string error;
    ASSERT_TRUE(sim::loadNumbers("# preload\n\n2;9161234567;12\r\n111;0\n222;5\n5;\\x41B;65535\n",
                                 &state, &error))
        << error;
    const auto stored = state.storedNumbers();
    const std::vector<std::pair<std::size_t, NumberEntry>> expected = {
        {0, {"111", 0}}, {1, {"222", 5}}, {2, {"9161234567", 12}}, {5, {"AB", 65535}}};
    EXPECT_EQ(stored, expected);
}

TEST(SimNumbersFile, NamesTheLineThatCannotBeTaken) {
    for (const char* text : {"1;1\n2;2\nbad\n", "1;1\n2;2\n0;3;3\n", "1;1\n2;2\n12345678901;1\n",
                             "1;1\n2;2\n;1\n", "1;1\n2;2\n650;1;1\n", "1;1\n2;2\n3;x\n"}) {
        DeviceState state;
        std::string error;
        EXPECT_FALSE(sim::loadNumbers(text, &state, &error)) << text;
        EXPECT_EQ(error.rfind("line 3: ", 0), 0u) << error;
    }
    DeviceState small;
    small.numberCapacity = 2;
    std::string error;
    EXPECT_FALSE(sim::loadNumbers("1;1\n2;2\n3;3\n", &small, &error));
}

TEST(SimBlockFile, RawBytesOrHexDigits) {
    sim::ConfigBlockBytes expected{};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        expected[i] = static_cast<std::uint8_t>(i + 100);
    }
    const std::string raw = blockBytes(expected);
    std::string hex;
    for (const auto b : expected) {
        char two[3];
        std::snprintf(two, sizeof two, "%02X", b);
        hex += two;
        hex += b % 8 == 0 ? "\n" : " ";
    }
    sim::ConfigBlockBytes block{};
    std::string error;
    ASSERT_TRUE(sim::loadConfigBlock(raw, &block, &error)) << error;
    EXPECT_EQ(block, expected);
    block = {};
    ASSERT_TRUE(sim::loadConfigBlock(raw + std::string(32, '\0') + "[Numbers]\n", &block, &error));
    EXPECT_EQ(block, expected) << "a configuration file gives its first 68 bytes";
    block = {};
    ASSERT_TRUE(sim::loadConfigBlock(hex, &block, &error)) << error;
    EXPECT_EQ(block, expected);
    block = {};
    const std::string dumpLine =
        "block=" +
        sim::dumpState(DeviceState{}).substr(sim::dumpState(DeviceState{}).find("block=") + 6, 136);
    ASSERT_TRUE(sim::loadConfigBlock(dumpLine, &block, &error)) << error;
    EXPECT_EQ(block, sim::factoryConfigBlock());

    EXPECT_FALSE(sim::loadConfigBlock(raw.substr(0, 67), &block, &error));
    EXPECT_FALSE(sim::loadConfigBlock("", &block, &error));
}

} // namespace
