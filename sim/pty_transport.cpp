#include "sim/pty_transport.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace sim {
namespace {

std::string errnoText(const std::string& what, int err) {
    return what + ": " + std::strerror(err);
}

std::string readLink(const std::string& path) {
    char target[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), target, sizeof target);
    return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

// Points `linkPath` at `target`, replacing a symbolic link that is already
// there in one rename so that a reader never sees the name missing.
void makeLink(const std::string& target, const std::string& linkPath) {
    struct stat st {};
    if (::lstat(linkPath.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        throw std::runtime_error(linkPath + " exists and is not a symbolic link; not replaced");
    }
    const std::string temp = linkPath + ".new-" + std::to_string(::getpid());
    ::unlink(temp.c_str());
    if (::symlink(target.c_str(), temp.c_str()) != 0) {
        throw std::runtime_error(errnoText("symlink " + temp, errno));
    }
    if (::rename(temp.c_str(), linkPath.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        throw std::runtime_error(errnoText("rename " + temp + " -> " + linkPath, err));
    }
}

} // namespace

PtyTransport::PtyTransport(std::string linkPath) {
    char name[PATH_MAX] = {};
    termios raw{};
    ::cfmakeraw(&raw);
    if (::openpty(&master_, &slave_, name, &raw, nullptr) != 0) {
        throw std::runtime_error(errnoText("openpty", errno));
    }
    slavePath_ = name;
    for (const int fd : {master_, slave_}) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    // openpty applies the attributes already; set them again in case the
    // library ignored them, so that no echo or line editing ever happens.
    ::tcsetattr(slave_, TCSANOW, &raw);
    if (!linkPath.empty()) {
        try {
            makeLink(slavePath_, linkPath);
        } catch (...) {
            ::close(master_);
            ::close(slave_);
            throw;
        }
        linkPath_ = std::move(linkPath);
    }
}

PtyTransport::~PtyTransport() {
    removeLink();
    ::close(master_);
    ::close(slave_);
}

void PtyTransport::removeLink() {
    if (linkPath_.empty()) {
        return;
    }
    // Only our own link: another simulator may have taken the name since.
    if (readLink(linkPath_) == slavePath_) {
        ::unlink(linkPath_.c_str());
    }
    linkPath_.clear();
}

bool PtyTransport::run(const StreamHandlers& handlers, const Pacing& pacing, const StopSignal& stop,
                       std::string* error) {
    for (;;) {
        switch (runStream(master_, handlers, pacing, stop, error)) {
        case StreamEnd::Stopped:
            return true;
        case StreamEnd::Failed:
            return false;
        case StreamEnd::Closed: // a serial device never hangs up its own line
        case StreamEnd::PeerClosed: {
            // Our own slave descriptor keeps the pair alive, so a hang-up can
            // only be passing (a vhangup by some other program). Wait a moment
            // rather than spin, then carry on.
            pollfd p{stop.fd(), POLLIN, 0};
            if (::poll(&p, 1, 100) > 0) {
                return true;
            }
            break;
        }
        }
    }
}

} // namespace sim
