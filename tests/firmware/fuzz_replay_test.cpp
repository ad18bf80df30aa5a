// Every seed and every past finding of the firmware fuzz target, replayed
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

TEST(FirmwareFuzzCorpus, EveryFileRunsThrough) {
    const std::filesystem::path dir = VXRT7_FIRMWARE_CORPUS;
    ASSERT_TRUE(std::filesystem::is_directory(dir)) << dir;
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (!entry.is_regular_file()) {
            continue;
        }
        ++files;
        SCOPED_TRACE(entry.path().filename().string());
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
        // A broken invariant aborts, a sanitizer report fails the run.
        EXPECT_EQ(LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                         bytes.size()),
                  0);
    }
    // The seeds cover the image check's limits and every kind of reply; a
    // corpus that lost them would make this test pass on nothing.
    EXPECT_GE(files, 10u);
}

} // namespace
