// The files on Windows: the safe save and the whole-file read through the
// wide interface (UTF-8 paths with Cyrillic names, backslashes), what a
// killed save left behind, and the backups under %LOCALAPPDATA%.
#include "files/backups.h"
#include "files/file_io.h"
#include "tests/windows/win_test_env.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
// After the program's headers (comm/tcomm_win.cpp says why).
#include <windows.h>

namespace {

std::string contents(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

} // namespace

TEST(FilesOnWindows, SafeSaveReplacesWholeAndClearsWhatKilledSavesLeft) {
    WinTempDir dir;
    const std::string path = dir.utf8(u8"объект №1.fcd");
    ASSERT_NE(path.find('\\'), std::string::npos);
    file_io::FileError error;
    ASSERT_TRUE(file_io::writeFileAtomically(path, "first", &error)) << error.reason;
    ASSERT_TRUE(file_io::writeFileAtomically(path, std::string(200000, 'x'), &error))
        << error.reason;
    const auto read = file_io::readWholeFile(path, 1 << 20, &error);
    ASSERT_TRUE(read.has_value()) << error.reason;
    EXPECT_EQ(*read, std::string(200000, 'x'));
    EXPECT_EQ(contents(dir.path() / u8"объект №1.fcd"), *read);

    // A save killed before its rename left its temporary file; the next
    // save removes it, but not one whose process still runs (this one) and
    // not a file of another naming.
    const auto leftover =
        dir.path() /
        (u8".объект №1.fcd.tmp-" +
         std::u8string(reinterpret_cast<const char8_t*>(std::to_string(INT_MAX - 3).c_str())) +
         u8"-0");
    const auto ours =
        dir.path() / (".other.fcd.tmp-" + std::to_string(::GetCurrentProcessId()) + "-7");
    const auto unrelated = dir.path() / "notes.tmp-1-0";
    for (const auto& f : {leftover, ours, unrelated}) {
        std::ofstream(f) << "half";
    }
    ASSERT_TRUE(file_io::writeFileAtomically(path, "third", &error)) << error.reason;
    EXPECT_FALSE(std::filesystem::exists(leftover));
    EXPECT_TRUE(std::filesystem::exists(ours));
    EXPECT_TRUE(std::filesystem::exists(unrelated));
    EXPECT_EQ(contents(dir.path() / u8"объект №1.fcd"), "third");
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        ++files;
    }
    EXPECT_EQ(files, 3u) << "the saved file, ours and the unrelated one";

    // The reasons, in Russian; the old file stays when a save fails.
    EXPECT_FALSE(file_io::readWholeFile(dir.utf8(u8"нет.fcd"), 100, &error));
    EXPECT_EQ(error.reason, "файл или папка не найдены");
    EXPECT_FALSE(file_io::readWholeFile(dir.utf8(), 100, &error));
    EXPECT_EQ(error.reason, "это папка, а не файл");
    EXPECT_FALSE(file_io::readWholeFile(path, 3, &error));
    EXPECT_EQ(error.reason, "файл слишком большой");
    EXPECT_FALSE(file_io::writeFileAtomically(dir.utf8(), "x", &error));
    EXPECT_EQ(error.reason, "это папка, а не файл");
    EXPECT_FALSE(file_io::writeFileAtomically(dir.utf8(u8"нет папки\\файл.fcd"), "x", &error));
    EXPECT_EQ(error.reason, "файл или папка не найдены");
    EXPECT_EQ(contents(dir.path() / u8"объект №1.fcd"), "third");
}

TEST(FilesOnWindows, BackupsGoUnderLocalAppDataAndNeverReplaceOne) {
    WinTempDir dir;
    const std::wstring base = std::filesystem::path(dir.path()).wstring();
    ASSERT_TRUE(::SetEnvironmentVariableW(L"LOCALAPPDATA", base.c_str()));
    ASSERT_EQ(::_wputenv_s(L"LOCALAPPDATA", base.c_str()), 0);
    const std::string folder = backups::folder();
    EXPECT_EQ(folder, dir.utf8() + "\\vxrt7-config\\backups");

    const auto when = std::chrono::system_clock::now();
    file_io::FileError error;
    const auto first = backups::save("block one", 7, when, folder, &error);
    ASSERT_TRUE(first.has_value()) << error.reason;
    const auto second = backups::save("block two", 7, when, folder, &error);
    ASSERT_TRUE(second.has_value()) << error.reason;
    EXPECT_EQ(*first, folder + "\\" + backups::fileName(7, when));
    EXPECT_EQ(second->substr(second->size() - 6), "-2.fcd");
    EXPECT_EQ(second->rfind(folder + "\\", 0), 0u);
    auto native = [](const std::string& utf8) {
        return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
    };
    EXPECT_EQ(contents(native(*first)), "block one");
    EXPECT_EQ(contents(native(*second)), "block two");
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(native(folder))) {
        ++files;
    }
    EXPECT_EQ(files, 2u) << "no temporary file is left";
}
