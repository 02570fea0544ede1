// TCP sockets on BSD sockets.
#include "aSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace aPlatform {

namespace {

NetResult sFromErrno(int error) {
    switch (error) {
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EINPROGRESS:
        return NetResult::WouldBlock;
    case ECONNRESET:
    case ECONNABORTED:
    case ENOTCONN:
    case ETIMEDOUT:
    case EPIPE:
        return NetResult::Lost;
    case ECONNREFUSED:
        return NetResult::Refused;
    default:
        return NetResult::Failed;
    }
}

bool sWait(int socket, short events, uint32_t timeoutMs) {
    pollfd poller{socket, events, 0};
    for (;;) {
        const int ready = ::poll(&poller, 1, static_cast<int>(timeoutMs));
        if (ready >= 0 || errno != EINTR) return ready > 0;
    }
}

bool sConfigure(int socket) {
    const int on = 1;
    const linger abortive{1, 0};  // closing resets the connection at once
    return setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == 0 &&
           setsockopt(socket, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive) == 0;
}

}  // namespace

int tcpConnect(uint32_t addressNetworkOrder, uint16_t port, uint32_t timeoutMs, NetResult& result) {
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (socket < 0) {
        result = NetResult::Failed;
        return -1;
    }
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(port);
    remote.sin_addr.s_addr = addressNetworkOrder;
    int error = 0;
    if (::connect(socket, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0) {
        error = errno;
        if (error == EINPROGRESS) {
            socklen_t size = sizeof error;
            error = sWait(socket, POLLOUT, timeoutMs)
                        ? (getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &size) == 0 ? error : errno)
                        : ETIMEDOUT;
        }
    }
    if (error != 0) {
        ::close(socket);
        const NetResult why = sFromErrno(error);
        result = why == NetResult::WouldBlock ? NetResult::Lost : why;
        return -1;
    }
    if (!sConfigure(socket)) {
        ::close(socket);
        result = NetResult::Failed;
        return -1;
    }
    result = NetResult::Ok;
    return socket;
}

void tcpClose(int socket) {
    if (socket >= 0) ::close(socket);
}

bool tcpAbort(int socket) {
    const int fresh = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fresh < 0) return false;
    return tcpAdopt(socket, fresh);
}

bool tcpAdopt(int target, int connected) {
    const bool moved = ::dup3(connected, target, O_CLOEXEC) == target;
    ::close(connected);
    return moved;
}

bool tcpWaitReadable(int socket, uint32_t timeoutMs) { return sWait(socket, POLLIN, timeoutMs); }
bool tcpWaitWritable(int socket, uint32_t timeoutMs) { return sWait(socket, POLLOUT, timeoutMs); }

NetResult tcpPeekByte(int socket) {
    uint8_t byte;
    const ssize_t n = ::recv(socket, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0) return NetResult::Ok;
    if (n == 0) return NetResult::Closed;
    return sFromErrno(errno);
}

NetResult tcpReceiveByte(int socket, uint8_t* byte) {
    const ssize_t n = ::recv(socket, byte, 1, MSG_DONTWAIT);
    if (n > 0) return NetResult::Ok;
    if (n == 0) return NetResult::Closed;
    return sFromErrno(errno);
}

NetResult tcpSend(int socket, const uint8_t* bytes, size_t count, size_t& sent) {
    sent = 0;
    const ssize_t n = ::send(socket, bytes, count, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) {
        sent = static_cast<size_t>(n);
        return NetResult::Ok;
    }
    return sFromErrno(errno);
}

}  // namespace aPlatform
