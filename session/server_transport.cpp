#include "session/server_transport.h"

int ServerTransport::sendToClient(const std::uint8_t* bytes, std::size_t count) {
    return server.send ? server.send(bytes, count) : -1;
}

void ServerTransport::stopServer(int afterMs) {
    if (!server.stop) {
        return;
    }
    if (afterMs <= 0 || !defer) {
        server.stop();
        return;
    }
    defer(afterMs, server.stop);
}

bool ServerTransport::serverListening() const {
    return server.listening && server.listening();
}

bool ServerTransport::clientLinked() const {
    return server.deviceLinked && server.deviceLinked();
}
