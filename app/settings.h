// The program's settings file "Сonfig.ini": the port, its baud rate, both
// operator choices and the server port, section "Config". Two keys for an
// administrator are only read, never written (so they stay as set):
// "Server_address", the address the Internet server listens on (empty or
// absent: every address), and "Allowed_peers", the addresses that may
// connect as the device, separated by commas or spaces (empty: any).
#pragma once

#include <QString>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct Settings {
    std::string port = "COM1"; // UTF-8
    int baudrate = 12;         // as stored; the caller keeps the low 8 bits
    int modProv = 2;
    int devProv = 2;
    std::uint32_t serverPort = 2020;
    std::string serverAddress;
    std::vector<std::string> allowedPeers;
    // "Fast_exchange": 1 analyses a complete reply at once. Written once it
    // has been on (or the file has the key), so a file that never had it
    // stays as it was.
    bool fastExchange = false;

    // The file's name: its first letter is the Cyrillic Es.
    static QString fileName();
    // Beside the program when it is there or that folder can be written;
    // otherwise in the user's configuration folder.
    static QString defaultPath();

    // Absent file, keys or values that are not numbers give the defaults.
    static Settings read(const QString& path);
    // Writes the five keys (creating the file and section as needed, keeping
    // everything else in it). Returns a message for the user on failure.
    std::optional<std::string> write(const QString& path) const;
};
