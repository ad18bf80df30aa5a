// Replacing a file never loses the old one: not to a save killed in its
// middle, not to a folder that cannot be written; and reading refuses what
// is no file instead of hanging on it.
#include "lists/file_io.h"

#include "tests/support/read_only_dir.h"
#include "tests/support/temp_dir.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string slurp(const std::string& path) {
    file_io::FileError error;
    return file_io::readWholeFile(path, 1u << 30, &error).value_or("<unreadable>");
}

std::vector<std::string> namesIn(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST(FileIo, SaveKilledInTheMiddleLeavesTheOldFileWhole) {
    TempDir dir;
    const std::string path = dir.filePath("config.fcd");
    const std::string old(9649, 'o');
    file_io::FileError error;
    ASSERT_TRUE(file_io::writeFileAtomically(path, old, &error)) << error.reason;
    ::chmod(path.c_str(), 0640);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Killed for good after the first 256 KiB of 8 MiB reached the disk.
        file_io::setWriteChunkHook([](std::size_t written) {
            if (written >= 256 * 1024) {
                ::raise(SIGKILL);
            }
        });
        file_io::FileError ignored;
        [[maybe_unused]] bool ok =
            file_io::writeFileAtomically(path, std::string(8 << 20, 'n'), &ignored);
        ::_exit(3); // never reached
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    EXPECT_EQ(slurp(path), old);

    // The next save replaces it and keeps its permissions.
    ASSERT_TRUE(file_io::writeFileAtomically(path, "new", &error)) << error.reason;
    EXPECT_EQ(slurp(path), "new");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(FileIo, FailedSavesReportAndLeaveNothingBehind) {
    ReadOnlyDir ro;
    if (!ro.effective()) {
        GTEST_SKIP() << "no folder here refuses writing";
    }
    file_io::FileError error;
    EXPECT_FALSE(file_io::writeFileAtomically(ro.path() + "/a.fcd", "x", &error));
    EXPECT_FALSE(error.reason.empty());
    EXPECT_TRUE(namesIn(ro.path()).empty());

    // A folder in the place of the file, and a folder that does not exist.
    TempDir dir;
    const std::string sub = dir.filePath("sub");
    ASSERT_EQ(::mkdir(sub.c_str(), 0755), 0);
    EXPECT_FALSE(file_io::writeFileAtomically(sub, "x", &error));
    EXPECT_EQ(error.reason, "это папка, а не файл");
    EXPECT_FALSE(file_io::writeFileAtomically(sub + "/none/a.fcd", "x", &error));
    EXPECT_EQ(error.reason, "файл или папка не найдены");
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"sub"});
    EXPECT_TRUE(namesIn(sub).empty());
}

TEST(FileIo, ReadingRefusesWhatIsNoFile) {
    TempDir dir;
    file_io::FileError error;
    EXPECT_FALSE(file_io::readWholeFile(dir.path(), 100, &error));
    EXPECT_EQ(error.reason, "это папка, а не файл");
    EXPECT_FALSE(file_io::readWholeFile(dir.filePath("gone"), 100, &error));
    EXPECT_EQ(error.code, ENOENT);
    // A pipe without a writer would block a plain open for ever.
    const std::string fifo = dir.filePath("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    EXPECT_FALSE(file_io::readWholeFile(fifo, 100, &error));
    EXPECT_EQ(error.reason, "это не обычный файл");
    // Larger than allowed.
    ASSERT_TRUE(file_io::writeFileAtomically(dir.filePath("big"), std::string(101, 'b'), &error));
    EXPECT_FALSE(file_io::readWholeFile(dir.filePath("big"), 100, &error));
    EXPECT_EQ(error.code, EFBIG);
    EXPECT_EQ(slurp(dir.filePath("big")), std::string(101, 'b'));
}
