#include "tty_probe.h"

#include <asm/termbits.h>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <sys/ioctl.h>

namespace {

termios2 get(int fd) {
    termios2 t{};
    if (::ioctl(fd, TCGETS2, &t) != 0) {
        throw std::runtime_error(std::string("TCGETS2: ") + std::strerror(errno));
    }
    return t;
}

void set(int fd, const termios2& t) {
    if (::ioctl(fd, TCSETS2, &t) != 0) {
        throw std::runtime_error(std::string("TCSETS2: ") + std::strerror(errno));
    }
}

} // namespace

TtyLine readTtyLine(int fd) {
    termios2 t = get(fd);
    TtyLine l;
    l.outputRate = t.c_ospeed;
    l.inputRate = ((t.c_cflag >> IBSHIFT) & CBAUD) == 0 ? 0 : t.c_ispeed;
    l.otherRate = (t.c_cflag & CBAUD) == BOTHER;
    switch (t.c_cflag & CSIZE) {
    case CS5:
        l.dataBits = 5;
        break;
    case CS6:
        l.dataBits = 6;
        break;
    case CS7:
        l.dataBits = 7;
        break;
    default:
        l.dataBits = 8;
        break;
    }
    l.parityEnabled = (t.c_cflag & PARENB) != 0;
    l.parityOdd = (t.c_cflag & PARODD) != 0;
    l.markOrSpace = (t.c_cflag & CMSPAR) != 0;
    l.twoStopBits = (t.c_cflag & CSTOPB) != 0;
    l.inputParityCheck = (t.c_iflag & INPCK) != 0;
    l.hardwareFlow = (t.c_cflag & CRTSCTS) != 0;
    l.local = (t.c_cflag & CLOCAL) != 0;
    l.receiverOn = (t.c_cflag & CREAD) != 0;
    l.canonical = (t.c_lflag & ICANON) != 0;
    l.echo = (t.c_lflag & ECHO) != 0;
    l.outputProcessing = (t.c_oflag & OPOST) != 0;
    l.vstart = t.c_cc[VSTART];
    l.vstop = t.c_cc[VSTOP];
    l.vmin = t.c_cc[VMIN];
    l.vtime = t.c_cc[VTIME];
    return l;
}

void forceTtyRate(int fd, uint32_t rate) {
    termios2 t = get(fd);
    t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER;
    t.c_ispeed = rate;
    t.c_ospeed = rate;
    set(fd, t);
}

void forceHardwareFlow(int fd, bool on) {
    termios2 t = get(fd);
    if (on) {
        t.c_cflag |= CRTSCTS;
    } else {
        t.c_cflag &= ~CRTSCTS;
    }
    set(fd, t);
}

bool ttyExclusive(int fd) {
    int on = 0;
    if (::ioctl(fd, TIOCGEXCL, &on) != 0) {
        throw std::runtime_error(std::string("TIOCGEXCL: ") + std::strerror(errno));
    }
    return on != 0;
}
