// The backup folder: where it is, and that a backup never replaces another
// and never appears half-written.
#include "files/backups.h"

#include "tests/support/temp_dir.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>

namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

} // namespace

TEST(Backups, FolderFollowsXdgDataHomeAndBackupsNeverReplaceEachOther) {
    EXPECT_EQ(backups::folderFor("/data/", "/home/u"), "/data/vxrt7-config/backups");
    EXPECT_EQ(backups::folderFor("relative", "/home/u"),
              "/home/u/.local/share/vxrt7-config/backups");
    EXPECT_EQ(backups::folderFor("", "/home/u"), "/home/u/.local/share/vxrt7-config/backups");
    EXPECT_EQ(backups::folderFor(nullptr, nullptr), "");

    TempDir tmp;
    const std::string dir = tmp.path() + "/share/vxrt7-config/backups";
    // 2026-03-01 12:34:56 UTC; the name is in local time.
    const auto when = std::chrono::system_clock::from_time_t(1772368496);
    const std::string name = backups::fileName(17, when);
    EXPECT_EQ(name.rfind("device-17_2026-03-0", 0), 0u) << name;
    EXPECT_EQ(name.size(), std::string("device-17_2026-03-01_12-34-56.fcd").size()) << name;

    file_io::FileError error;
    const auto first = backups::save("first", 17, when, dir, &error);
    ASSERT_TRUE(first) << error.reason;
    EXPECT_EQ(*first, dir + "/" + name);
    const auto second = backups::save("second", 17, when, dir, &error);
    ASSERT_TRUE(second) << error.reason;
    EXPECT_EQ(*second, dir + "/" + name.substr(0, name.size() - 4) + "-2.fcd");
    EXPECT_EQ(slurp(*first), "first");
    EXPECT_EQ(slurp(*second), "second");
    struct stat st {};
    ASSERT_EQ(::stat(dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // They hold passwords and numbers: only the user reads them.
    ASSERT_EQ(::stat(first->c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // A backup killed before its link left its temporary file; the next
    // backup removes it, and no temporary file of its own stays behind.
    long pidMax = 0;
    std::ifstream("/proc/sys/kernel/pid_max") >> pidMax;
    ASSERT_GT(pidMax, 0);
    const std::string killed = dir + "/." + name + ".tmp-" + std::to_string(pidMax + 1) + "-0";
    std::ofstream(killed) << "half a backup";
    ASSERT_TRUE(backups::save("third", 17, when, dir, &error)) << error.reason;
    EXPECT_FALSE(std::filesystem::exists(killed));
    const auto entries = std::filesystem::directory_iterator(dir);
    EXPECT_EQ(std::distance(std::filesystem::begin(entries), std::filesystem::end(entries)), 3);

    // A folder that cannot be made: no path, the reason, nothing written.
    std::ofstream(tmp.path() + "/plain-file") << "x";
    const auto refused =
        backups::save("fourth", 17, when, tmp.path() + "/plain-file/backups", &error);
    EXPECT_FALSE(refused);
    EXPECT_FALSE(error.reason.empty());
}
