// The fuzz corpora of the configuration file reader and of the CSV import
// and export, replayed in the ordinary test run.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <vector>

int fuzzConfigFile(const std::uint8_t* data, std::size_t size);
int fuzzCsvNumbers(const std::uint8_t* data, std::size_t size);

namespace {

void replay(const std::filesystem::path& dir, int (*target)(const std::uint8_t*, std::size_t),
            std::size_t minimum) {
    ASSERT_TRUE(std::filesystem::is_directory(dir)) << dir;
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (!entry.is_regular_file()) {
            continue;
        }
        SCOPED_TRACE(entry.path().filename().string());
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
        // A broken invariant aborts; an exception (a cell that does not exist) fails here.
        int result = -1;
        EXPECT_NO_THROW(
            result = target(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
        EXPECT_EQ(result, 0);
        ++count;
    }
    // A corpus that lost its seeds would make this pass on nothing.
    EXPECT_GE(count, minimum);
}

TEST(FileFuzzCorpus, ConfigFileSeedsRunThrough) {
    replay(VXRT7_CONFIG_FILE_CORPUS, fuzzConfigFile, 6);
}

TEST(FileFuzzCorpus, CsvNumbersSeedsRunThrough) {
    replay(VXRT7_CSV_NUMBERS_CORPUS, fuzzCsvNumbers, 8);
}

} // namespace
