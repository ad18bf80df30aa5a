// Another program that has a device open and takes no lock on it, as a
// terminal program or a stray `cat /dev/ttyUSB0` would: `sleep` with the
// device as its standard input and no other descriptor of ours.
#pragma once

#include <string>
#include <sys/types.h>

class DeviceHolder {
  public:
    // Returns once the program runs with the device open; on failure ok() is
    // false and error() says why.
    explicit DeviceHolder(const std::string& devicePath);
    ~DeviceHolder(); // stop()
    DeviceHolder(const DeviceHolder&) = delete;
    DeviceHolder& operator=(const DeviceHolder&) = delete;

    bool ok() const { return pid_ > 0; }
    const std::string& error() const { return error_; }
    pid_t pid() const { return pid_; }
    // Kills and reaps it; the device is free of it afterwards.
    void stop();

  private:
    pid_t pid_ = -1;
    std::string error_;
};
