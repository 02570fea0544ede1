// The socket stream and its silent reconnection.
#include "aStream_Socket.h"

#include <mutex>
#include <new>

#include "aSocket.h"
#include "aTime.h"

namespace {

using aPlatform::NetResult;

constexpr uint16_t kSocketCheck = 0xDEAD;
constexpr uint32_t kConnectMs = 2000;
constexpr uint32_t kSettleMs = 10;
constexpr uint32_t kByteWaitMs = 100;
constexpr uint32_t kSendWaitMs = 60;
constexpr int kSendAttempts = 10;

struct SocketState {
    uint16_t checkWord;
    uint32_t address;  // network order
    uint16_t port;     // host order
    std::mutex connection;  // the reader and the writer may both reconnect
    int socket = -1;        // one descriptor number from the first connection to the close
    uint32_t generation = 0;  // counts connections, so a loss seen twice is repaired once
    bool connected = false;
};

struct Connection {
    int socket;
    uint32_t generation;
};

SocketState* sState(void* reference) {
    auto* state = static_cast<SocketState*>(reference);
    return state && state->checkWord == kSocketCheck ? state : nullptr;
}

void sDropConnection(SocketState* state) {
    if (!state->connected) return;
    state->connected = false;
    aPlatform::tcpAbort(state->socket);
    aTime_MSSleep(kSettleMs);
}

// Replaces the connection the caller found broken, unless another thread already has.
aErr sReconnect(SocketState* state, uint32_t seenGeneration) {
    std::lock_guard<std::mutex> lock(state->connection);
    if (state->connected && state->generation != seenGeneration) return aErrNone;
    sDropConnection(state);
    NetResult why;
    const int socket = aPlatform::tcpConnect(state->address, state->port, kConnectMs, why);
    if (socket < 0) {
        aTime_MSSleep(kSettleMs);
        return why == NetResult::Failed ? aErrIO : aErrConnection;
    }
    if (state->socket < 0)
        state->socket = socket;
    else if (!aPlatform::tcpAdopt(state->socket, socket))
        return aErrIO;
    ++state->generation;
    state->connected = true;
    return aErrNone;
}

// The live connection, reconnecting first when it is down.
aErr sConnection(SocketState* state, Connection& current) {
    std::unique_lock<std::mutex> lock(state->connection);
    if (!state->connected) {
        const uint32_t seen = state->generation;
        lock.unlock();
        const aErr err = sReconnect(state, seen);
        if (err != aErrNone) return err;
        lock.lock();
    }
    current = {state->socket, state->generation};
    return aErrNone;
}

// Reports a failed reconnection no faster than a quiet read would, so a reader looping on a
// dead connection does not spin.
aErr sPaced(aErr err, uint32_t started) {
    const uint32_t spent = aTime_GetMSTicks() - started;
    if (spent < kByteWaitMs) aTime_MSSleep(kByteWaitMs - spent);
    return err;
}

aErr sSocketGet(uint8_t* byte, void* reference) {
    SocketState* state = sState(reference);
    if (!state || !byte) return aErrParam;
    const uint32_t started = aTime_GetMSTicks();
    Connection current;
    aErr err = sConnection(state, current);
    if (err != aErrNone) return sPaced(err, started);
    if (!aPlatform::tcpWaitReadable(current.socket, kByteWaitMs)) return aErrNotReady;
    switch (aPlatform::tcpPeekByte(current.socket)) {
    case NetResult::Ok:
        break;
    case NetResult::WouldBlock:
        return aErrNotReady;
    case NetResult::Closed:  // the peer ended the connection: not the end of the link
    case NetResult::Lost:
        err = sReconnect(state, current.generation);
        return err == aErrNone ? aErrNotReady : sPaced(err, started);
    default:
        return sPaced(aErrConnection, started);
    }
    switch (aPlatform::tcpReceiveByte(current.socket, byte)) {
    case NetResult::Ok: return aErrNone;
    case NetResult::WouldBlock:
    case NetResult::Lost: return aErrNotReady;
    default: return aErrIO;
    }
}

aErr sSocketWrite(const uint8_t* bytes, size_t count, void* reference) {
    SocketState* state = sState(reference);
    if (!state || (!bytes && count > 0)) return aErrParam;
    Connection current;
    aErr err = sConnection(state, current);
    if (err != aErrNone) return err;
    size_t done = 0;
    int attempts = 0;
    while (done < count) {
        size_t sent = 0;
        const NetResult result = aPlatform::tcpSend(current.socket, bytes + done, count - done, sent);
        done += sent;
        if (done == count) return aErrNone;
        if (sent > 0) attempts = 1;  // progress: the peer is taking bytes
        if (result == NetResult::WouldBlock) {
            ++attempts;
        } else if (result == NetResult::Lost) {
            err = sReconnect(state, current.generation);
            if (err == aErrNone) err = sConnection(state, current);
            if (err != aErrNone) return err;
            ++attempts;
        } else if (result != NetResult::Ok) {
            return aErrIO;
        }
        if (attempts >= kSendAttempts) return aErrBusy;
        aPlatform::tcpWaitWritable(current.socket, kSendWaitMs);
    }
    return aErrNone;
}

aErr sSocketPut(const uint8_t* byte, void* reference) { return sSocketWrite(byte, 1, reference); }

aErr sSocketDelete(void* reference) {
    SocketState* state = sState(reference);
    if (!state) return aErrIO;
    {
        std::lock_guard<std::mutex> lock(state->connection);
        sDropConnection(state);
        aPlatform::tcpClose(state->socket);
    }
    state->checkWord = 0;
    delete state;
    return aErrNone;
}

}  // namespace

extern "C" {

aErr aStream_CreateSocket(uint32_t address, uint16_t port, aStream** stream) {
    if (!stream) return aErrResource;
    *stream = nullptr;
    auto* state = new (std::nothrow) SocketState{};
    if (!state) return aErrResource;
    state->checkWord = kSocketCheck;
    state->address = address;
    state->port = port;
    if (sReconnect(state, 0) != aErrNone) {
        delete state;
        return aErrResource;
    }
    *stream = aStream_Create(sSocketGet, sSocketPut, sSocketWrite, sSocketDelete, state);
    if (*stream) return aErrNone;
    sSocketDelete(state);
    return aErrResource;
}

}  // extern "C"
