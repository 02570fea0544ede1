// Serial ports on termios.
#include "aSerialPort.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <new>

namespace aPlatform {

struct SerialPort {
    int fd;
    termios saved;
};

namespace {

constexpr int kWriteStallMs = 1000;

bool sSpeed(uint32_t baud, speed_t& speed) {
    switch (baud) {
    case 2400: speed = B2400; return true;
    case 4800: speed = B4800; return true;
    case 9600: speed = B9600; return true;
    case 19200: speed = B19200; return true;
    case 38400: speed = B38400; return true;
    case 57600: speed = B57600; return true;
    case 115200: speed = B115200; return true;
    case 230400: speed = B230400; return true;
    default: return false;
    }
}

// Binary-clean bytes (no echo, no line editing, no translation, no software flow control that
// would swallow data bytes) with the requested framing; hardware flow control stays as it was.
bool sApplyLine(int fd, termios settings, const SerialLine& line) {
    speed_t speed;
    if (!sSpeed(line.baud, speed)) return false;
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB);
    settings.c_cflag |= line.sevenBits ? CS7 : CS8;
    if (line.oddParity) {
        settings.c_cflag |= PARENB | PARODD;
        settings.c_iflag |= INPCK;
    }
    if (line.twoStopBits) settings.c_cflag |= CSTOPB;
    settings.c_cc[VMIN] = 0;  // reads return at once with what has arrived
    settings.c_cc[VTIME] = 0;
    return cfsetispeed(&settings, speed) == 0 && cfsetospeed(&settings, speed) == 0 &&
           tcsetattr(fd, TCSANOW, &settings) == 0;
}

}  // namespace

SerialPort* openSerialPort(const char* path, const SerialLine& line) {
    const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    termios saved;
    if (tcgetattr(fd, &saved) != 0 || !sApplyLine(fd, saved, line)) {
        ::close(fd);
        return nullptr;
    }
    ioctl(fd, TIOCEXCL);  // other programs cannot open the port while we hold it
    auto* port = new (std::nothrow) SerialPort{fd, saved};
    if (!port) {
        tcsetattr(fd, TCSANOW, &saved);
        ::close(fd);
    }
    return port;
}

bool closeSerialPort(SerialPort* port) {
    if (!port) return false;
    ioctl(port->fd, TIOCNXCL);
    const bool restored = tcsetattr(port->fd, TCSANOW, &port->saved) == 0;
    ::close(port->fd);
    delete port;
    return restored;
}

SerialRead readSerialByte(SerialPort* port, uint8_t* byte) {
    for (;;) {
        const ssize_t n = ::read(port->fd, byte, 1);
        if (n == 1) return SerialRead::Byte;
        if (n == 0) return waitSerialInput(port, 0) == SerialWait::HungUp ? SerialRead::Failed : SerialRead::Nothing;
        if (errno == EINTR) continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? SerialRead::Nothing : SerialRead::Failed;
    }
}

SerialWait waitSerialInput(SerialPort* port, uint32_t timeoutMs) {
    pollfd poller{port->fd, POLLIN, 0};
    const int ready = ::poll(&poller, 1, static_cast<int>(timeoutMs));
    if (ready < 0) return errno == EINTR ? SerialWait::Quiet : SerialWait::HungUp;
    if (ready == 0) return SerialWait::Quiet;
    int pending = 0;
    if ((poller.revents & (POLLHUP | POLLERR)) && (ioctl(port->fd, FIONREAD, &pending) != 0 || pending == 0))
        return SerialWait::HungUp;  // a hung-up terminal stays "readable" with nothing to read
    return SerialWait::Input;
}

bool writeSerial(SerialPort* port, const uint8_t* bytes, size_t count) {
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(port->fd, bytes + done, count - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
        pollfd poller{port->fd, POLLOUT, 0};
        if (::poll(&poller, 1, kWriteStallMs) <= 0 || (poller.revents & (POLLERR | POLLHUP))) return false;
    }
    return true;
}

}  // namespace aPlatform
