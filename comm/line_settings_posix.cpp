#include "comm/line_settings.h"

#include <asm/termbits.h>
#include <cerrno>
#include <sys/ioctl.h>

namespace comm::detail {

namespace {

// The rates that have a Bnnn constant; the others are set with BOTHER.
unsigned standardRateCode(uint32_t rate) {
    switch (rate) {
    case 110:
        return B110;
    case 300:
        return B300;
    case 600:
        return B600;
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    case 460800:
        return B460800;
    case 921600:
        return B921600;
    default:
        return 0;
    }
}

int ioctlTermios2(int fd, unsigned long request, termios2* t) {
    for (;;) {
        if (::ioctl(fd, request, t) == 0) {
            return 0;
        }
        if (errno != EINTR) {
            return errno;
        }
    }
}

} // namespace

int applyLineSettings(int fd, const LineSettings& s) {
    tcflag_t size = 0;
    switch (s.dataBits) {
    case 5:
        size = CS5;
        break;
    case 6:
        size = CS6;
        break;
    case 7:
        size = CS7;
        break;
    case 8:
        size = CS8;
        break;
    default:
        return EINVAL; // a tty has no 4-bit characters
    }
    if (s.parity < 0 || s.parity > 4 || s.stopBits < 0 || s.stopBits > 2 || s.rate == 0) {
        return EINVAL;
    }

    termios2 t{};
    if (int err = ioctlTermios2(fd, TCGETS2, &t)) {
        return err;
    }

    // Raw mode, as cfmakeraw() does it.
    t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | INPCK);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
    t.c_cflag |= CLOCAL | CREAD | size;
    // No flow control, whatever the previous owner of the line left: the
    // device has no handshake lines wired, and an RTS/CTS or XON/XOFF wait
    // inherited from another program would keep the link silent for ever.
    t.c_cflag &= ~CRTSCTS;
    t.c_iflag &= ~(IXOFF | IXANY);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;

    switch (s.parity) {
    case 1:
        t.c_cflag |= PARENB | PARODD;
        break;
    case 2:
        t.c_cflag |= PARENB;
        break;
    case 3:
        t.c_cflag |= PARENB | CMSPAR | PARODD;
        break; // mark: the bit is always 1
    case 4:
        t.c_cflag |= PARENB | CMSPAR;
        break; // space: always 0
    default:
        break;
    }
    if (s.parityCheck) {
        t.c_iflag |= INPCK;
    }
    // One and a half stop bits exist only with 5-bit characters, where the
    // UART makes CSTOPB mean 1.5; elsewhere the line gets two.
    if (s.stopBits != 0) {
        t.c_cflag |= CSTOPB;
    }
    t.c_cc[VSTART] = static_cast<cc_t>(s.xonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(s.xoffChar);

    // Input rate follows the output rate (CIBAUD 0).
    t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    unsigned code = standardRateCode(s.rate);
    t.c_cflag |= code != 0 ? code : BOTHER;
    t.c_ispeed = s.rate;
    t.c_ospeed = s.rate;

    return ioctlTermios2(fd, TCSETS2, &t);
}

int setImmediateReads(int fd) {
    termios2 t{};
    if (int err = ioctlTermios2(fd, TCGETS2, &t)) {
        return err;
    }
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    return ioctlTermios2(fd, TCSETS2, &t);
}

} // namespace comm::detail
