#include "tests/support/read_only_dir.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

ReadOnlyDir::ReadOnlyDir() {
    char templ[] = "/tmp/vxrt7-ro-XXXXXX";
    if (::mkdtemp(templ) == nullptr) {
        return;
    }
    path_ = templ;
    if (::geteuid() == 0) {
        immutable_ = std::system(("chattr +i '" + path_ + "' 2>/dev/null").c_str()) == 0;
    } else {
        ::chmod(path_.c_str(), 0555);
    }
    const std::string probe = path_ + "/probe";
    const int fd = ::open(probe.c_str(), O_CREAT | O_WRONLY, 0644);
    if (fd >= 0) {
        ::close(fd);
        ::unlink(probe.c_str());
    }
    effective_ = fd < 0;
}

ReadOnlyDir::~ReadOnlyDir() {
    if (path_.empty()) {
        return;
    }
    if (immutable_) {
        [[maybe_unused]] int rc = std::system(("chattr -i '" + path_ + "' 2>/dev/null").c_str());
    }
    ::chmod(path_.c_str(), 0755);
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}
