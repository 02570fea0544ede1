// TCP sockets behind the socket stream: a bounded connect, one-byte peeks and receives, sends,
// and bounded waits, with the outcomes the stream tells apart.
#pragma once

#include <cstddef>
#include <cstdint>

namespace aPlatform {

enum class NetResult {
    Ok,
    WouldBlock,
    Closed,        // the peer ended the connection in order
    Lost,          // reset, aborted, not connected, timed out
    Refused,
    Failed
};

// A connected, non-blocking socket with no send coalescing and an abortive close, or -1 with
// the reason. The connect waits at most timeoutMs.
int tcpConnect(uint32_t addressNetworkOrder, uint16_t port, uint32_t timeoutMs, NetResult& result);
void tcpClose(int socket);
// A socket's descriptor number stays the same for the life of a stream, so that a thread
// still using it never reaches a descriptor that was closed and reused: tcpAbort resets the
// connection and leaves an unconnected socket under the number; tcpAdopt moves a newly
// connected socket under it.
bool tcpAbort(int socket);
bool tcpAdopt(int target, int connected);
// Waits up to timeoutMs until the socket is readable (or failed); true when it is.
bool tcpWaitReadable(int socket, uint32_t timeoutMs);
bool tcpWaitWritable(int socket, uint32_t timeoutMs);
NetResult tcpPeekByte(int socket);
NetResult tcpReceiveByte(int socket, uint8_t* byte);
// Sends what the socket takes now; `sent` says how much.
NetResult tcpSend(int socket, const uint8_t* bytes, size_t count, size_t& sent);

}  // namespace aPlatform
