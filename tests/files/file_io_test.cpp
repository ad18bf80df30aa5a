// Replacing a file never loses the old one: not to a save killed in its
// middle, not to a folder that cannot be written; what a killed save left
// behind goes with the next save, and nothing else does; and reading
// refuses what is no file instead of hanging on it.
#include "files/file_io.h"

#include "tests/support/read_only_dir.h"
#include "tests/support/temp_dir.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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
    // The half-written file of the dead process is still there...
    const auto names = namesIn(dir.path());
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0].rfind(".config.fcd.tmp-" + std::to_string(child) + "-", 0), 0u) << names[0];
    EXPECT_EQ(file_io::leftoverPid(names[0]), child);

    // ...until the next save, which replaces the file, keeps its
    // permissions and takes the leftover away.
    ASSERT_TRUE(file_io::writeFileAtomically(path, "new", &error)) << error.reason;
    EXPECT_EQ(slurp(path), "new");
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"config.fcd"});
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(FileIo, OnlyLeftoversOfProcessesThatAreGoneAreRemoved) {
    // A process number that no process can have: above the system's limit.
    std::ifstream limit("/proc/sys/kernel/pid_max");
    long pidMax = 0;
    ASSERT_TRUE(limit >> pidMax);
    const std::string dead = std::to_string(pidMax + 1);
    const std::string live = std::to_string(::getppid());
    const std::string mine = std::to_string(::getpid());

    TempDir dir;
    TempDir other; // another folder: a save here leaves it alone
    auto put = [](const std::string& path) { std::ofstream(path) << "half a file"; };
    const std::vector<std::string> gone = {
        ".a.fcd.tmp-" + dead + "-0",
        ".b.fcd.tmp-" + dead + "-17",     // another file's save in the same folder
        ".Сonfig.ini.tmp-" + dead + "-3", // the settings file's
        ".x.tmp-1.tmp-" + dead + "-2",    // a name that holds the mark itself
    };
    const std::vector<std::string> running = {
        ".a.fcd.tmp-" + live + "-0", // its process is running
        ".a.fcd.tmp-" + mine + "-5", // this process's own save in progress
    };
    const std::vector<std::string> otherNaming = {
        "a.fcd.tmp-" + dead + "-0", // not hidden
        "..tmp-" + dead + "-0",     // no file name before the mark
        ".a.fcd.tmp-0" + dead + "-0",
        ".a.fcd.tmp-" + dead + "-01", // leading zeros
        ".a.fcd.tmp-" + dead + "-",
        ".a.fcd.tmp-" + dead,
        ".a.fcd.tmp--0",
        ".a.fcd.tmp-" + dead + "-0.bak",
        ".a.fcd.tmp-" + dead + "-0x1",
        ".a.fcd.tmp-+" + dead + "-0",
        ".a.fcd.tmp-0-0",
        ".a.fcd.tmp-99999999999-0", // more than a process number can be
        ".a.fcd.TMP-" + dead + "-0",
        ".backup-Ab12Cd",
        "a.fcd",
    };
    for (const auto& name : gone) {
        put(dir.filePath(name));
        put(other.filePath(name));
    }
    for (const auto& name : running) {
        put(dir.filePath(name));
    }
    for (const auto& name : otherNaming) {
        put(dir.filePath(name));
        EXPECT_FALSE(file_io::leftoverPid(name)) << name;
    }
    // Of that naming, but a folder and a link: not what a save leaves.
    const std::string folder = ".d.fcd.tmp-" + dead + "-0";
    const std::string link = ".l.fcd.tmp-" + dead + "-0";
    ASSERT_EQ(::mkdir(dir.filePath(folder).c_str(), 0755), 0);
    ASSERT_EQ(::symlink("a.fcd", dir.filePath(link).c_str()), 0);
    // Another user's file of that naming stays theirs (only root can make one).
    const std::string foreign = ".f.fcd.tmp-" + dead + "-0";
    put(dir.filePath(foreign));
    const bool asRoot =
        ::geteuid() == 0 && ::chown(dir.filePath(foreign).c_str(), 65534, 65534) == 0;

    file_io::FileError error;
    ASSERT_TRUE(file_io::writeFileAtomically(dir.filePath("a.fcd"), "new", &error)) << error.reason;
    std::vector<std::string> expected = otherNaming;
    expected.insert(expected.end(), running.begin(), running.end());
    expected.insert(expected.end(), {folder, link});
    if (asRoot) {
        expected.push_back(foreign);
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(namesIn(dir.path()), expected);
    EXPECT_EQ(slurp(dir.filePath("a.fcd")), "new");
    EXPECT_EQ(slurp(dir.filePath(link)), "new"); // the link's target is the saved file
    std::vector<std::string> untouched = gone;
    std::sort(untouched.begin(), untouched.end());
    EXPECT_EQ(namesIn(other.path()), untouched);
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
