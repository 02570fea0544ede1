// The packet log: records of a tag byte, a length byte and the content, in a ring that
// evicts its oldest records to make room.
#include "aPacketLog.h"

#include <cstdlib>

namespace {

uint32_t sUsed(const aPacketLog* log) {
    return (log->size + log->writePosition - log->readPosition) % log->size;
}

uint8_t sByteAt(const aPacketLog* log, uint32_t offset) {
    return log->buffer[(log->readPosition + offset) % log->size];
}

void sEvictOldest(aPacketLog* log) {
    log->readPosition = (log->readPosition + 2 + sByteAt(log, 1)) % log->size;
}

void sWriteByte(aPacketLog* log, uint8_t byte) {
    log->buffer[log->writePosition] = byte;
    log->writePosition = (log->writePosition + 1) % log->size;
}

}  // namespace

extern "C" {

aPacketLog* aPacketLog_Create(uint32_t size) {
    if (size == 0) return nullptr;
    auto* log = static_cast<aPacketLog*>(std::calloc(1, sizeof(aPacketLog)));
    if (!log) return nullptr;
    log->buffer = static_cast<uint8_t*>(std::malloc(size));
    if (!log->buffer) {
        std::free(log);
        return nullptr;
    }
    log->size = size;
    return log;
}

aErr aPacketLog_Destroy(aPacketLog** log) {
    if (log && *log) {
        std::free((*log)->buffer);
        std::free(*log);
        *log = nullptr;
    }
    return aErrNone;
}

aErr aPacketLog_Put(aPacketLog* log, uint8_t tag, uint8_t length, const uint8_t* content) {
    if (!log || (length > 0 && !content)) return aErrParam;
    const uint32_t recordSize = length + 2u;
    if (recordSize >= log->size) return aErrOverrun;
    // Keep one byte free so that a full ring never looks empty.
    while (log->size - sUsed(log) <= recordSize) sEvictOldest(log);
    sWriteByte(log, tag);
    sWriteByte(log, length);
    for (uint32_t i = 0; i < length; ++i) sWriteByte(log, content[i]);
    return aErrNone;
}

aErr aPacketLog_Get(aPacketLog* log, uint8_t* tag, uint32_t* length, uint8_t* buffer) {
    if (!log || !tag || !length) return aErrParam;
    if (log->readPosition == log->writePosition) return aErrNotFound;
    const uint32_t recordLength = sByteAt(log, 1);
    *tag = sByteAt(log, 0);
    if (recordLength > *length) {
        *length = recordLength;
        return aErrOverrun;
    }
    if (recordLength > 0 && !buffer) return aErrParam;
    for (uint32_t i = 0; i < recordLength; ++i) buffer[i] = sByteAt(log, 2 + i);
    *length = recordLength;
    log->readPosition = (log->readPosition + 2 + recordLength) % log->size;
    return aErrNone;
}

}  // extern "C"
