// The front end's Internet server as the link uses it: the link sends to the
// device connected to it and stops it; the front end runs it (the window on
// Qt Network, a test on a loopback socket). Without a server the link sends
// nothing to the Internet link.
#pragma once

#include "link/link_controller.h"

#include <cstddef>
#include <cstdint>
#include <functional>

class ServerTransport : public InternetTransport {
  public:
    // How to send to the server's device, stop it, and whether it listens.
    struct Server {
        std::function<int(const std::uint8_t*, std::size_t)> send;
        std::function<void()> stop;
        std::function<bool()> listening;
        std::function<bool()> deviceLinked; // a device is connected to it now
    };
    Server server;
    // Runs a call after the given milliseconds without blocking the front
    // end; none: a delayed stop happens at once.
    std::function<void(int ms, std::function<void()> call)> defer;

    int sendToClient(const std::uint8_t* bytes, std::size_t count) override;
    void stopServer(int afterMs) override;
    bool serverListening() const override;
    bool clientLinked() const override;
};
