// A folder that stands in for /sys/class/tty, /dev and /dev/serial/by-id, so
// that port discovery can be tried on pseudo-terminals without hardware.
#pragma once

#include <filesystem>
#include <string>
#include <unistd.h>

struct FakePortTree {
    std::filesystem::path root;
    std::filesystem::path sys = root / "sys";
    std::filesystem::path dev = root / "dev";
    std::filesystem::path byId = root / "by-id";

    explicit FakePortTree(const std::string& name)
        : root(std::filesystem::temp_directory_path() / (name + "-" + std::to_string(::getpid()))) {
        std::filesystem::remove_all(root);
        std::filesystem::create_directories(sys);
        std::filesystem::create_directories(dev);
        std::filesystem::create_directories(byId);
    }
    ~FakePortTree() { std::filesystem::remove_all(root); }
    FakePortTree(const FakePortTree&) = delete;
    FakePortTree& operator=(const FakePortTree&) = delete;

    // A tty with a device behind it (or none: an on-board port without a
    // chip), whose /dev node is the given terminal.
    void addPort(const std::string& name, const std::string& terminal, bool withDevice = true) {
        std::filesystem::create_directories(sys / name);
        if (withDevice) {
            std::filesystem::create_directories(sys / name / "device");
        }
        std::filesystem::create_symlink(terminal, dev / name);
    }
};
