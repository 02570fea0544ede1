// Link packets and their byte-by-byte assembly.
#include "aPacket.h"

#include <cstdlib>
#include <cstring>

namespace {

aPacket* sAllocate() {
    auto* packet = static_cast<aPacket*>(std::calloc(1, sizeof(aPacket)));
    if (packet) packet->checkWord = aPACKET_CHECKWORD;
    return packet;
}

aErr sGetDataByte(const aPacket* packet, unsigned index, uint8_t mask, uint8_t* out) {
    if (!out) return aErrParam;
    if (!aVALIDPACKET(packet) || packet->dataSize <= index) return aErrPacket;
    *out = packet->data[index] & mask;
    return aErrNone;
}

}  // namespace

extern "C" {

bool aVALIDPACKET(const aPacket* packet) {
    return packet && packet->checkWord == aPACKET_CHECKWORD;
}

aPacket* aPacket_Create(void) { return sAllocate(); }

aPacket* aPacket_CreateWithData(uint8_t address, uint8_t length, const uint8_t* data) {
    if (!data || length > aPACKET_MAX_DATA) return nullptr;
    aPacket* packet = sAllocate();
    if (!packet) return nullptr;
    packet->address = address;
    packet->dataSize = length;
    std::memcpy(packet->data, data, length);
    packet->byteCount = static_cast<uint8_t>(length + 2);
    return packet;
}

aPacket* aPacket_Copy(const aPacket* packet) {
    if (!aVALIDPACKET(packet) || packet->dataSize > aPACKET_MAX_DATA) return nullptr;
    return aPacket_CreateWithData(packet->address, packet->dataSize, packet->data);
}

aErr aPacket_Destroy(aPacket** packet) {
    if (!packet || !*packet) return aErrParam;
    (*packet)->checkWord = 0;
    std::free(*packet);
    *packet = nullptr;
    return aErrNone;
}

aErr aPacket_Reset(aPacket* packet) {
    if (!aVALIDPACKET(packet)) return aErrParam;
    packet->byteCount = 0;
    packet->address = 0;
    packet->dataSize = 0;
    std::memset(packet->data, 0, sizeof packet->data);
    return aErrNone;
}

aErr aPacket_AddByte(aPacket* packet, uint8_t byte) {
    if (!aVALIDPACKET(packet)) return aErrParam;
    if (packet->byteCount >= aPACKET_MAX_WIRE) {
        // Saturate rather than wrap, so a stream of junk keeps giving aErrOverrun.
        packet->byteCount = aPACKET_MAX_WIRE + 1;
        return aErrOverrun;
    }
    ++packet->byteCount;
    if (packet->address == 0) {
        if (byte == 0) return aErrPacket;
        packet->address = byte;
        return aErrNone;
    }
    if (packet->byteCount == 2) {
        packet->dataSize = byte;
        return byte > aPACKET_MAX_DATA ? aErrPacket : aErrNone;
    }
    if (packet->byteCount > packet->dataSize + 2) return aErrPacket;
    packet->data[packet->byteCount - 3] = byte;
    return aErrNone;
}

bool aPacket_IsComplete(const aPacket* packet) {
    return aVALIDPACKET(packet) && packet->byteCount == packet->dataSize + 2;
}

aErr aPacket_GetBytes(const aPacket* packet, uint8_t* buffer, uint32_t bufferSize, uint32_t* length) {
    if (!aVALIDPACKET(packet) || !buffer || packet->dataSize > aPACKET_MAX_DATA) return aErrParam;
    const uint32_t wireLength = packet->dataSize + 2u;
    if (bufferSize < wireLength) return aErrOverrun;
    buffer[0] = packet->address;
    buffer[1] = packet->dataSize;
    std::memcpy(buffer + 2, packet->data, packet->dataSize);
    if (length) *length = wireLength;
    return aErrNone;
}

aErr aPacket_GetCmd(const aPacket* packet, uint8_t* command) {
    return sGetDataByte(packet, 0, 0xFF, command);
}

aErr aPacket_GetOption(const aPacket* packet, uint8_t* option) {
    return sGetDataByte(packet, 1, 0x3F, option);
}

aErr aPacket_GetIndex(const aPacket* packet, uint8_t* index) {
    return sGetDataByte(packet, 2, 0x1F, index);
}

}  // extern "C"
