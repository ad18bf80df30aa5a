// Every seed and every past finding of the analysers' fuzz target, replayed
// through the same entry function in the ordinary test run.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

TEST(AnalysersFuzzCorpus, EveryFileRunsThrough) {
    const std::filesystem::path dir = VXRT7_ANALYSERS_CORPUS;
    ASSERT_TRUE(std::filesystem::is_directory(dir)) << dir;
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.is_regular_file()) {
            files.push_back(entry.path());
        }
    }
    // The seeds cover both analysers and the protocol's edge cases; a corpus
    // that lost them would make this test pass on nothing.
    ASSERT_GE(files.size(), 20u);
    for (const auto& file : files) {
        SCOPED_TRACE(file.filename().string());
        std::ifstream in(file, std::ios::binary);
        const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
        // A crash, a sanitizer report or an exception (a grid cell that does
        // not exist) fails here.
        int result = -1;
        EXPECT_NO_THROW(result = LLVMFuzzerTestOneInput(
                            reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
        EXPECT_EQ(result, 0);
    }
}

} // namespace
