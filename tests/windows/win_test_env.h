// What the Windows tests get from scripts/test-windows.sh, which runs them
// under Wine: the COM port behind which the simulator waits, and one that
// no device is behind. And a scratch folder of the test's own.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

inline std::string envOrEmpty(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// "COM5": the simulator on a pseudo-terminal that Wine's dosdevices link
// makes a COM port.
inline std::string simulatorPort() {
    return envOrEmpty("VXRT7_TEST_COM");
}

// A COM port with nothing behind it.
inline std::string absentPort() {
    return envOrEmpty("VXRT7_TEST_COM_ABSENT");
}

#define REQUIRE_TEST_PORTS()                                                                       \
    ASSERT_FALSE(simulatorPort().empty() || absentPort().empty())                                  \
        << "VXRT7_TEST_COM and VXRT7_TEST_COM_ABSENT name the ports: run by "                      \
           "scripts/test-windows.sh"

// A fresh folder under the temporary folder, removed with what it holds.
// Its name has Cyrillic letters, as the users' folders have.
class WinTempDir {
  public:
    WinTempDir() {
        static int counter = 0;
        const std::filesystem::path base = std::filesystem::temp_directory_path();
        path_ = base / (u8"vxrt7 тест " + std::u8string(reinterpret_cast<const char8_t*>(
                                              std::to_string(counter++).c_str())));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~WinTempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    WinTempDir(const WinTempDir&) = delete;
    WinTempDir& operator=(const WinTempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // A path in the folder as the program holds paths: UTF-8, backslashes.
    std::string utf8(const std::u8string& name = {}) const {
        const std::u8string s = (name.empty() ? path_ : path_ / name).u8string();
        return std::string(s.begin(), s.end());
    }

  private:
    std::filesystem::path path_;
};
