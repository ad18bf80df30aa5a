// A fresh folder under /tmp for one test, removed with what it holds.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

class TempDir {
  public:
    TempDir() {
        char name[] = "/tmp/vxrt7_test_XXXXXX";
        if (::mkdtemp(name) != nullptr) {
            path_ = name;
        }
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string filePath(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};
