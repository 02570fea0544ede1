#include "SimTransport.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace halcyonix_sim {

namespace {

constexpr int kPollMs = 100;       // how soon a loop notices that it shall end
constexpr int kWriteWaitMs = 1000;  // a host that takes nothing for this long loses the bytes

// Writes everything to a non-blocking descriptor, waiting a bounded time whenever it is full.
void writeAll(int fd, const std::vector<uint8_t>& bytes, bool socket)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = socket ? ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL)
                           : ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, kWriteWaitMs) > 0)
                continue;
        }
        return;
    }
}

void makeNonBlocking(int fd)
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

}  // namespace

SimTransport::SimTransport(SimModule& module) : module_(module)
{
    module_.setSender([this](const SimPacket& packet) { transmit(packet); });
}

void SimTransport::detachModule()
{
    module_.setSender(nullptr);
    module_.setAttached(false);
}

void SimTransport::dropBytes(unsigned count)
{
    std::lock_guard lock(faultMutex_);
    dropLeft_ = count;
}

void SimTransport::corruptBytes(unsigned count)
{
    std::lock_guard lock(faultMutex_);
    corruptLeft_ = count;
}

void SimTransport::setDelay(uint32_t ms)
{
    std::lock_guard lock(faultMutex_);
    delayMs_ = ms;
}

void SimTransport::setSilent(bool silent)
{
    std::lock_guard lock(faultMutex_);
    silent_ = silent;
}

void SimTransport::clearFaults()
{
    std::lock_guard lock(faultMutex_);
    dropLeft_ = corruptLeft_ = 0;
    delayMs_ = 0;
    silent_ = false;
    setRefusing(false);
}

void SimTransport::injectBytes(const std::vector<uint8_t>& bytes)
{
    writeWire(bytes);
}

void SimTransport::deliverIncoming(const uint8_t* bytes, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
        if (std::optional<SimPacket> packet = parse(bytes[i]))
            module_.receive(*packet);
}

void SimTransport::applyFaults(std::vector<uint8_t>& bytes)
{
    std::vector<uint8_t> kept;
    for (uint8_t byte : bytes) {
        if (dropLeft_ > 0) {
            --dropLeft_;
            continue;
        }
        if (corruptLeft_ > 0) {
            --corruptLeft_;
            byte ^= 0x5A;
        }
        kept.push_back(byte);
    }
    bytes.swap(kept);
}

void SimTransport::transmit(const SimPacket& packet)
{
    std::vector<uint8_t> bytes = encode(packet);
    uint32_t delay;
    {
        std::lock_guard lock(faultMutex_);
        if (silent_)
            return;
        applyFaults(bytes);
        delay = delayMs_;
    }
    if (delay > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    if (!bytes.empty())
        writeWire(bytes);
}

// ---- TCP ----

int listenOnLoopback(uint16_t port, uint16_t& actual)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 4) != 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    actual = ntohs(address.sin_port);
    return fd;
}

SimTcpTransport::SimTcpTransport(SimModule& module, uint16_t port) : SimRawTransport(module)
{
    listenFd_ = listenOnLoopback(port, port_);
    if (listenFd_ < 0)
        throw std::runtime_error("cannot listen on port " + std::to_string(port) + ": " + std::strerror(errno));
    thread_ = std::thread([this] { loop(); });
}

SimTcpTransport::~SimTcpTransport()
{
    detachModule();
    running_ = false;
    thread_.join();
    dropHost();
    if (listenFd_ >= 0)
        ::close(listenFd_);
}

std::string SimTcpTransport::describe() const
{
    return "tcp 127.0.0.1 " + std::to_string(port_);
}

void SimTcpTransport::loop()
{
    while (running_) {
        followRefusal();
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {-1, POLLIN, 0}};
        {
            std::lock_guard lock(connectionMutex_);
            fds[1].fd = connectionFd_;
        }
        if (::poll(fds, 2, kPollMs) <= 0)
            continue;
        if (fds[0].fd >= 0 && (fds[0].revents & POLLIN))
            acceptHost();
        if (fds[1].fd >= 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)))
            readHost();
    }
}

// A refusing module is not listening at all, so connecting fails as with a module that is off.
void SimTcpTransport::followRefusal()
{
    if (refusing_ && listenFd_ >= 0) {
        ::close(listenFd_);
        listenFd_ = -1;
    } else if (!refusing_ && listenFd_ < 0) {
        uint16_t same = 0;
        listenFd_ = listenOnLoopback(port_, same);
    }
}

void SimTcpTransport::acceptHost()
{
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
        return;
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    makeNonBlocking(fd);
    dropHost();
    {
        std::lock_guard lock(connectionMutex_);
        connectionFd_ = fd;
        resetParser();
    }
    module().setAttached(true);
}

void SimTcpTransport::readHost()
{
    uint8_t buffer[512];
    int fd;
    {
        std::lock_guard lock(connectionMutex_);
        fd = connectionFd_;
    }
    ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n > 0) {
        deliverIncoming(buffer, static_cast<std::size_t>(n));
        return;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    dropHost();
}

void SimTcpTransport::dropHost()
{
    {
        std::lock_guard lock(connectionMutex_);
        if (connectionFd_ < 0)
            return;
        ::close(connectionFd_);
        connectionFd_ = -1;
    }
    module().setAttached(false);
}

bool SimTcpTransport::disconnect()
{
    dropHost();
    return true;
}

bool SimTcpTransport::setRefusing(bool refusing)
{
    refusing_ = refusing;
    return true;
}

void SimTcpTransport::writeWire(const std::vector<uint8_t>& bytes)
{
    std::lock_guard lock(connectionMutex_);
    if (connectionFd_ >= 0)
        writeAll(connectionFd_, bytes, true);
}

// ---- packetized serial on a pseudo-terminal ----

SimSerialTransport::SimSerialTransport(SimModule& module) : SimTransport(module)
{
    char name[256] = {};
    termios raw{};
    cfmakeraw(&raw);
    if (::openpty(&masterFd_, &slaveFd_, name, &raw, nullptr) != 0)
        throw std::runtime_error(std::string("openpty: ") + std::strerror(errno));
    slavePath_ = name;
    // Holding the slave open keeps the master readable while no host has the port open.
    makeNonBlocking(masterFd_);
    // Heartbeats wait until a host has spoken, so none pile up in an unopened port.
    thread_ = std::thread([this] { loop(); });
}

SimSerialTransport::~SimSerialTransport()
{
    detachModule();
    running_ = false;
    thread_.join();
    ::close(masterFd_);
    ::close(slaveFd_);
}

std::string SimSerialTransport::describe() const
{
    return "serial " + slavePath_;
}

void SimSerialTransport::loop()
{
    bool heard = false;
    while (running_) {
        pollfd p{masterFd_, POLLIN, 0};
        if (::poll(&p, 1, kPollMs) <= 0 || !(p.revents & POLLIN))
            continue;
        uint8_t buffer[512];
        ssize_t n = ::read(masterFd_, buffer, sizeof buffer);
        if (n <= 0)
            continue;
        if (!heard) {
            heard = true;
            module().setAttached(true);
        }
        deliverIncoming(buffer, static_cast<std::size_t>(n));
        badFrames_ = parser_.badFrames();
    }
}

std::vector<uint8_t> SimSerialTransport::encode(const SimPacket& packet)
{
    return encodeFrame(packet);
}

std::optional<SimPacket> SimSerialTransport::parse(uint8_t byte)
{
    return parser_.feed(byte);
}

void SimSerialTransport::writeWire(const std::vector<uint8_t>& bytes)
{
    std::lock_guard lock(writeMutex_);
    writeAll(masterFd_, bytes, false);
}

}  // namespace halcyonix_sim
