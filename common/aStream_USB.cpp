// The USB stream: bytes of bulk IN transfers handed out one at a time, blocks cut into bulk OUT
// transfers. Everything here runs above the backend seam, the same for libusb and the bus.
#include "aStream_USB.h"

#include <algorithm>
#include <new>
#include <vector>

#include "aTime.h"
#include "aUSBBackend.h"

namespace {

using aPlatform::UsbTransfer;

constexpr uint32_t kUsbCheck = 0xDEAD;
constexpr uint32_t kReadTimeoutMs = 1000;
// A stuck OUT transfer gives up after this long and counts as one failed attempt.
constexpr uint32_t kWriteTimeoutMs = 1000;
constexpr int kWriteAttempts = 10;
// A chunk of exactly this size is cut by one byte, so no OUT transfer is ever 512 bytes.
constexpr size_t kAvoidedChunk = 512;
// A vanished device answers at once; its failures are paced so a reader does not spin.
constexpr uint32_t kFailurePaceMs = 100;

struct UsbState {
    uint32_t checkWord;
    aPlatform::UsbConnectionPtr connection;
    std::vector<uint8_t> readBuffer;
    size_t bytesRead = 0;
    size_t readPosition = 0;
};

UsbState* sState(void* reference) {
    auto* state = static_cast<UsbState*>(reference);
    return state && state->checkWord == kUsbCheck ? state : nullptr;
}

aErr sFailed(aErr err) {
    aTime_MSSleep(kFailurePaceMs);
    return err;
}

aErr sUsbGet(uint8_t* byte, void* reference) {
    UsbState* state = sState(reference);
    if (!state || !byte) return aErrParam;
    if (!state->connection) return aErrIO;
    if (state->readPosition < state->bytesRead) {
        *byte = state->readBuffer[state->readPosition++];
        return aErrNone;
    }
    size_t got = 0;
    switch (state->connection->bulkIn(state->readBuffer.data(), state->readBuffer.size(), got, kReadTimeoutMs)) {
    case UsbTransfer::Done:
        break;
    case UsbTransfer::TimedOut:
        return aErrNotReady;
    case UsbTransfer::Cancelled:
        return aErrCancel;
    default:
        return sFailed(aErrIO);
    }
    if (got == 0) return aErrNotReady;  // a zero-length transfer carries no byte
    state->bytesRead = got;
    state->readPosition = 1;
    *byte = state->readBuffer[0];
    return aErrNone;
}

size_t sChunkSize(size_t remaining, size_t maxPacket) {
    const size_t chunk = std::min(remaining, maxPacket);
    return chunk == kAvoidedChunk ? chunk - 1 : chunk;
}

aErr sUsbWrite(const uint8_t* bytes, size_t count, void* reference) {
    UsbState* state = sState(reference);
    if (!state || (!bytes && count > 0)) return aErrParam;
    if (!state->connection) return aErrIO;
    const size_t maxPacket = state->connection->outMaxPacketSize();
    size_t done = 0;
    int failures = 0;
    while (done < count) {
        if (failures >= kWriteAttempts) return aErrWrite;
        const size_t chunk = sChunkSize(count - done, maxPacket);
        size_t sent = 0;
        const UsbTransfer result = state->connection->bulkOut(bytes + done, chunk, sent, kWriteTimeoutMs);
        if (result == UsbTransfer::Gone) return aErrIO;
        // Only the bytes that went out are done; a short transfer resends just the rest.
        done += std::min(sent, chunk);
        if (sent < chunk) ++failures;
    }
    return aErrNone;
}

aErr sUsbPut(const uint8_t* byte, void* reference) { return sUsbWrite(byte, 1, reference); }

aErr sUsbDelete(void* reference) {
    UsbState* state = sState(reference);
    if (!state) return aErrParam;
    state->connection.reset();
    state->checkWord = 0;
    delete state;
    return aErrNone;
}

aErr sOpenResult(aPlatform::UsbOpen opened) {
    switch (opened) {
    case aPlatform::UsbOpen::Opened: return aErrNone;
    case aPlatform::UsbOpen::Busy: return aErrBusy;
    case aPlatform::UsbOpen::NotFound: return aErrNotFound;
    case aPlatform::UsbOpen::Denied: return aErrPermission;
    default: return aErrInitialization;
    }
}

}  // namespace

extern "C" {

aErr aStream_CreateUSB(uint32_t serialNumber, aStream** stream) {
    if (!stream) return aErrParam;
    *stream = nullptr;
    auto* state = new (std::nothrow) UsbState{kUsbCheck, nullptr, {}, 0, 0};
    if (!state) return aErrMemory;
    const aErr opened = sOpenResult(aPlatform::usbOpen(serialNumber, state->connection));
    if (opened != aErrNone) {
        delete state;
        return opened;
    }
    try {
        state->readBuffer.resize(state->connection->inMaxPacketSize());
    } catch (...) {
        delete state;
        return aErrMemory;
    }
    *stream = aStream_Create(sUsbGet, sUsbPut, sUsbWrite, sUsbDelete, state);
    if (*stream) return aErrNone;
    delete state;
    return aErrMemory;
}

}  // extern "C"
