// The raw serial stream and the packetized serial stream on top of it.
#include "aStream_Serial.h"

#include <new>

#include "aPacket.h"
#include "aSerialPort.h"
#include "aTime.h"

namespace {

constexpr uint32_t kSerialCheck = 0xDEEF;
constexpr uint16_t kPacketizedCheck = 0xC0B5;
constexpr uint32_t kBaudRates[aSERIAL_BAUD_COUNT] = {2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};

// A packet image (at most 30 bytes) and its CRC, COBS-stuffed: one code byte more.
constexpr size_t kMaxFrame = aPACKET_MAX_WIRE + 2;
// A reader waits this long for the next byte before it reports that none came ...
constexpr uint32_t kByteWaitMs = 100;
// ... and returns within this bound even while bytes keep coming, so its caller can stop.
constexpr uint32_t kReadCallMs = 1000;

struct SerialState {
    uint32_t checkWord;
    aPlatform::SerialPort* port;
};

struct PacketizedState {
    uint16_t checkWord;
    SerialState* serial;
    uint8_t frame[kMaxFrame];
    size_t frameLength;
    bool overlong;
    uint8_t decoded[kMaxFrame];
    size_t decodedLength;
    size_t deliveryIndex;  // bytes of `decoded` handed out; delivering while below its length
    aPacket* assembler;
    uint8_t output[kMaxFrame + 1];
};

SerialState* sSerial(void* reference) {
    auto* state = static_cast<SerialState*>(reference);
    return state && state->checkWord == kSerialCheck ? state : nullptr;
}

PacketizedState* sPacketized(void* reference) {
    auto* state = static_cast<PacketizedState*>(reference);
    return state && state->checkWord == kPacketizedCheck ? state : nullptr;
}

// CRC-8 with the reflected polynomial 0x8C, initial value 0, no final inversion.
uint8_t sCrc8(const uint8_t* bytes, size_t count) {
    uint8_t crc = 0;
    for (size_t i = 0; i < count; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<uint8_t>((crc >> 1) ^ 0x8C) : crc >> 1;
    }
    return crc;
}

// COBS for inputs of at most 254 bytes (one block); returns the encoded length.
size_t sCobsEncode(const uint8_t* in, size_t count, uint8_t* out) {
    size_t codeAt = 0;
    size_t written = 1;
    uint8_t code = 1;
    for (size_t i = 0; i < count; ++i) {
        if (in[i] == 0) {
            out[codeAt] = code;
            codeAt = written++;
            code = 1;
        } else {
            out[written++] = in[i];
            ++code;
        }
    }
    out[codeAt] = code;
    return written;
}

// Decodes into `out` (room for `count` bytes); false for a malformed frame.
bool sCobsDecode(const uint8_t* in, size_t count, uint8_t* out, size_t& length) {
    length = 0;
    size_t at = 0;
    while (at < count) {
        const uint8_t code = in[at++];
        if (code == 0 || at + code - 1 > count) return false;
        for (uint8_t i = 1; i < code; ++i) out[length++] = in[at++];
        if (code != 0xFF && at < count) out[length++] = 0;
    }
    return true;
}

aErr sSerialGet(uint8_t* byte, void* reference) {
    SerialState* state = sSerial(reference);
    if (!state) return aErrParam;
    switch (aPlatform::readSerialByte(state->port, byte)) {
    case aPlatform::SerialRead::Byte: return aErrNone;
    case aPlatform::SerialRead::Nothing: return aErrNotReady;
    default: return aErrIO;
    }
}

aErr sSerialWrite(const uint8_t* bytes, size_t count, void* reference) {
    SerialState* state = sSerial(reference);
    if (!state) return aErrParam;
    return aPlatform::writeSerial(state->port, bytes, count) ? aErrNone : aErrIO;
}

aErr sSerialPut(const uint8_t* byte, void* reference) { return sSerialWrite(byte, 1, reference); }

aErr sSerialDelete(void* reference) {
    SerialState* state = sSerial(reference);
    if (!state) return aErrParam;
    const bool restored = aPlatform::closeSerialPort(state->port);
    state->checkWord = 0;
    delete state;
    return restored ? aErrNone : aErrIO;
}

aErr sOpenSerial(const char* portName, uint32_t baudIndex, int parity, int sevenBits, int twoStopBits,
                 SerialState** opened) {
    if (!portName || !opened) return aErrParam;
    if (baudIndex >= aSERIAL_BAUD_COUNT) return aErrRange;
    if ((sevenBits != 0 && sevenBits != 1) || (twoStopBits != 0 && twoStopBits != 1)) return aErrMode;
    auto* state = new (std::nothrow) SerialState{kSerialCheck, nullptr};
    if (!state) return aErrMemory;
    state->port = aPlatform::openSerialPort(
        portName, {kBaudRates[baudIndex], parity != 0, sevenBits == 1, twoStopBits == 1});
    if (!state->port) {
        delete state;
        return aErrIO;
    }
    *opened = state;
    return aErrNone;
}

// A frame that passes decoding, has the length its packet announces and the right CRC.
bool sAcceptFrame(PacketizedState* state) {
    size_t length = 0;
    const bool decoded = !state->overlong && sCobsDecode(state->frame, state->frameLength, state->decoded, length);
    state->frameLength = 0;
    state->overlong = false;
    if (!decoded || length <= 2 || length != state->decoded[1] + 3u ||
        state->decoded[length - 1] != sCrc8(state->decoded, length - 1))
        return false;
    state->decodedLength = length - 1;  // the packet image, without its CRC
    state->deliveryIndex = 0;
    return true;
}

aErr sDeliver(PacketizedState* state, uint8_t* byte) {
    *byte = state->decoded[state->deliveryIndex++];
    return aErrNone;
}

// Keeps taking bytes while they arrive, so a frame is read in one call; reports aErrNotReady
// only when no byte came within the wait.
aErr sPacketizedGet(uint8_t* byte, void* reference) {
    PacketizedState* state = sPacketized(reference);
    if (!state || !byte) return aErrParam;
    if (state->deliveryIndex < state->decodedLength) return sDeliver(state, byte);
    const uint32_t started = aTime_GetMSTicks();
    while (aTime_GetMSTicks() - started < kReadCallMs) {
        const auto waited = aPlatform::waitSerialInput(state->serial->port, kByteWaitMs);
        if (waited == aPlatform::SerialWait::Quiet) return aErrNotReady;
        uint8_t in = 0;
        const aErr got = waited == aPlatform::SerialWait::Input ? sSerialGet(&in, state->serial) : aErrIO;
        if (got == aErrNotReady) continue;
        if (got != aErrNone) {
            // A failing port answers at once; pace the caller instead of letting it spin.
            aTime_MSSleep(kByteWaitMs);
            return aErrNotReady;
        }
        if (in != 0) {
            if (state->frameLength < kMaxFrame)
                state->frame[state->frameLength++] = in;
            else
                state->overlong = true;
            continue;
        }
        if (state->frameLength == 0 && !state->overlong) continue;
        if (!sAcceptFrame(state)) return aErrPacket;
        return sDeliver(state, byte);
    }
    return aErrNotReady;
}

aErr sSendFrame(PacketizedState* state) {
    uint8_t image[aPACKET_MAX_WIRE + 1];
    uint32_t length = 0;
    aPacket_GetBytes(state->assembler, image, sizeof image, &length);
    aPacket_Reset(state->assembler);
    image[length] = sCrc8(image, length);
    size_t framed = sCobsEncode(image, length + 1, state->output);
    state->output[framed++] = 0;
    return sSerialWrite(state->output, framed, state->serial);
}

aErr sPacketizedWrite(const uint8_t* bytes, size_t count, void* reference) {
    PacketizedState* state = sPacketized(reference);
    if (!state || (!bytes && count > 0)) return aErrParam;
    aErr result = aErrNone;
    for (size_t i = 0; i < count; ++i) {
        if (aPacket_AddByte(state->assembler, bytes[i]) != aErrNone) {
            // Not packet images: the rest of the block cannot be realigned, so drop it and say so.
            aPacket_Reset(state->assembler);
            return aErrPacket;
        }
        if (!aPacket_IsComplete(state->assembler)) continue;
        const aErr sent = sSendFrame(state);
        if (sent != aErrNone) result = sent;
    }
    return result;
}

aErr sPacketizedPut(const uint8_t* byte, void* reference) {
    PacketizedState* state = sPacketized(reference);
    if (!state) return aErrParam;
    return sSerialPut(byte, state->serial);
}

aErr sPacketizedDelete(void* reference) {
    PacketizedState* state = sPacketized(reference);
    if (!state) return aErrParam;
    const aErr closed = sSerialDelete(state->serial);
    aPacket_Destroy(&state->assembler);
    state->checkWord = 0;
    delete state;
    return closed;
}

}  // namespace

extern "C" {

aErr aStream_CreateSerial(const char* portName, uint32_t baudIndex, int parity, int sevenBits,
                          int twoStopBits, aStream** stream) {
    if (!stream) return aErrParam;
    *stream = nullptr;
    SerialState* state = nullptr;
    const aErr opened = sOpenSerial(portName, baudIndex, parity, sevenBits, twoStopBits, &state);
    if (opened != aErrNone) return opened;
    *stream = aStream_Create(sSerialGet, sSerialPut, sSerialWrite, sSerialDelete, state);
    if (*stream) return aErrNone;
    sSerialDelete(state);
    return aErrResource;
}

aErr aStream_CreateSerial_Packetized(const char* portName, uint32_t baudIndex, int parity,
                                     int sevenBits, int twoStopBits, aStream** stream) {
    if (!stream) return aErrParam;
    *stream = nullptr;
    SerialState* serial = nullptr;
    const aErr opened = sOpenSerial(portName, baudIndex, parity, sevenBits, twoStopBits, &serial);
    if (opened != aErrNone) return opened;
    auto* state = new (std::nothrow) PacketizedState{};
    aPacket* assembler = state ? aPacket_Create() : nullptr;
    if (!assembler) {
        delete state;
        sSerialDelete(serial);
        return aErrMemory;
    }
    state->checkWord = kPacketizedCheck;
    state->serial = serial;
    state->assembler = assembler;
    *stream = aStream_Create(sPacketizedGet, sPacketizedPut, sPacketizedWrite, sPacketizedDelete, state);
    if (*stream) return aErrNone;
    sPacketizedDelete(state);
    return aErrResource;
}

}  // extern "C"
