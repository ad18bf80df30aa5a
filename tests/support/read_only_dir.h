// A temporary folder that this process cannot write into, even as root
// (root ignores permission bits, so the folder is made immutable instead).
#pragma once

#include <string>

class ReadOnlyDir {
  public:
    ReadOnlyDir();
    ~ReadOnlyDir();
    ReadOnlyDir(const ReadOnlyDir&) = delete;
    ReadOnlyDir& operator=(const ReadOnlyDir&) = delete;

    const std::string& path() const { return path_; }
    // Whether writing into it really fails here (false: the test cannot be made).
    bool effective() const { return effective_; }

  private:
    std::string path_;
    bool immutable_ = false;
    bool effective_ = false;
};
