// The stream record, its push-back ring and the generic reads and writes built on the four
// transport operations.
#include "aStream.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr uint16_t kStreamCheck = 0x4321;
constexpr size_t kPushBackStep = 512;

}  // namespace

struct aStream {
    aStreamGetProc getProc;
    aStreamPutProc putProc;
    aStreamWriteProc writeProc;
    aStreamDeleteProc deleteProc;
    void* procRef;
    uint8_t* pushBack;
    size_t pushBackCount;
    size_t pushBackCapacity;
    size_t pushBackRead;
    size_t pushBackWrite;
    uint16_t checkWord;
};

namespace {

bool sValid(const aStream* stream) { return stream && stream->checkWord == kStreamCheck; }

// Straightens the ring into a larger buffer so the held bytes keep their order.
aErr sGrowPushBack(aStream* stream) {
    const size_t capacity = stream->pushBackCapacity + kPushBackStep;
    auto* grown = static_cast<uint8_t*>(std::malloc(capacity));
    if (!grown) return aErrMemory;
    for (size_t i = 0; i < stream->pushBackCount; ++i)
        grown[i] = stream->pushBack[(stream->pushBackRead + i) % stream->pushBackCapacity];
    std::free(stream->pushBack);
    stream->pushBack = grown;
    stream->pushBackCapacity = capacity;
    stream->pushBackRead = 0;
    stream->pushBackWrite = stream->pushBackCount;
    return aErrNone;
}

aErr sPushBack(aStream* stream, uint8_t byte) {
    if (!stream->pushBack) {
        stream->pushBack = static_cast<uint8_t*>(std::malloc(kPushBackStep));
        if (!stream->pushBack) return aErrMemory;
        stream->pushBackCapacity = kPushBackStep;
        stream->pushBackCount = stream->pushBackRead = stream->pushBackWrite = 0;
    }
    if (stream->pushBackCount >= stream->pushBackCapacity - 1) {
        const aErr grown = sGrowPushBack(stream);
        if (grown != aErrNone) return grown;
    }
    stream->pushBack[stream->pushBackWrite] = byte;
    stream->pushBackWrite = (stream->pushBackWrite + 1) % stream->pushBackCapacity;
    ++stream->pushBackCount;
    return aErrNone;
}

aErr sPushBackAll(aStream* stream, const uint8_t* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const aErr err = sPushBack(stream, bytes[i]);
        if (err != aErrNone) return err;
    }
    return aErrNone;
}

// The next byte: a pushed-back one first, else the transport's.
aErr sNextByte(aStream* stream, uint8_t* byte) {
    if (stream->pushBackCount > 0) {
        *byte = stream->pushBack[stream->pushBackRead];
        stream->pushBackRead = (stream->pushBackRead + 1) % stream->pushBackCapacity;
        --stream->pushBackCount;
        return aErrNone;
    }
    return stream->getProc(byte, stream->procRef);
}

aErr sPutBytes(aStream* stream, const uint8_t* bytes, size_t count) {
    if (stream->writeProc && count > 1) return stream->writeProc(bytes, count, stream->procRef);
    if (count == 0) return aErrNone;
    if (!stream->putProc) return aErrMode;
    for (size_t i = 0; i < count; ++i) {
        const aErr err = stream->putProc(&bytes[i], stream->procRef);
        if (err != aErrNone) return err;
    }
    return aErrNone;
}

}  // namespace

extern "C" {

aStream* aStream_Create(aStreamGetProc getProc, aStreamPutProc putProc, aStreamWriteProc writeProc,
                        aStreamDeleteProc deleteProc, void* reference) {
    auto* stream = static_cast<aStream*>(std::calloc(1, sizeof(aStream)));
    if (!stream) return nullptr;
    stream->getProc = getProc;
    stream->putProc = putProc;
    stream->writeProc = writeProc;
    stream->deleteProc = deleteProc;
    stream->procRef = reference;
    stream->checkWord = kStreamCheck;
    return stream;
}

aErr aStream_Destroy(aStream** stream) {
    if (!stream) return aErrParam;
    aStream* doomed = *stream;
    *stream = nullptr;
    if (!sValid(doomed)) return aErrParam;
    const aErr result = doomed->deleteProc ? doomed->deleteProc(doomed->procRef) : aErrNone;
    doomed->checkWord = 0;
    std::free(doomed->pushBack);
    std::free(doomed);
    return result;
}

aErr aStream_Read(aStream* stream, void* buffer, size_t count) {
    if (!sValid(stream) || !buffer) return aErrParam;
    if (!stream->getProc) return aErrMode;
    if (count == 0) return aErrNone;
    // The link reader reads one byte at a time: small reads stay off the heap.
    uint8_t local[64];
    std::vector<uint8_t> large;
    uint8_t* scratch = local;
    if (count > sizeof local) {
        try {
            large.resize(count);
        } catch (...) {
            return aErrResource;
        }
        scratch = large.data();
    }
    size_t got = 0;
    aErr err = aErrNone;
    while (got < count && (err = sNextByte(stream, &scratch[got])) == aErrNone) ++got;
    if (err == aErrNotReady) {
        const aErr kept = sPushBackAll(stream, scratch, got);
        return kept == aErrNone ? aErrNotReady : kept;
    }
    if (err != aErrNone && err != aErrEOF) return err;
    std::memcpy(buffer, scratch, got);
    return err;
}

aErr aStream_Write(aStream* stream, const void* bytes, size_t count) {
    if (!sValid(stream) || !bytes) return aErrParam;
    return sPutBytes(stream, static_cast<const uint8_t*>(bytes), count);
}

aErr aStream_Flush(aStream* input, aStream* output) {
    if (!sValid(input) || !sValid(output)) return aErrParam;
    if (!input->getProc || !output->putProc) return aErrMode;
    for (;;) {
        uint8_t byte;
        const aErr got = sNextByte(input, &byte);
        if (got == aErrEOF) return aErrNone;
        if (got != aErrNone) return got;
        const aErr put = output->putProc(&byte, output->procRef);
        if (put != aErrNone) return put;
    }
}

aErr aStream_ReadRecord(aStream* stream, void* buffer, size_t* length, size_t maxLength,
                        const uint8_t* terminator, size_t terminatorLength) {
    if (!sValid(stream) || !buffer || !terminator || terminatorLength == 0 || maxLength == 0)
        return aErrParam;
    if (!stream->getProc) return aErrMode;
    std::vector<uint8_t> stored;
    std::vector<uint8_t> taken;  // every byte of this call, terminator bytes included
    try {
        stored.reserve(maxLength);
        taken.reserve(maxLength + terminatorLength);
    } catch (...) {
        return aErrResource;
    }
    size_t matched = 0;
    while (matched < terminatorLength && stored.size() < maxLength) {
        uint8_t byte;
        const aErr err = sNextByte(stream, &byte);
        if (err == aErrEOF) {
            if (stored.empty()) {
                if (length) *length = 0;
                return aErrEOF;
            }
            break;
        }
        if (err == aErrNotReady) {
            // Matched terminator bytes go back too, or the next read would lose them.
            const aErr kept = sPushBackAll(stream, taken.data(), taken.size());
            return kept == aErrNone ? aErrNotReady : kept;
        }
        if (err != aErrNone) return err;
        taken.push_back(byte);
        if (byte == terminator[matched])
            ++matched;
        else
            stored.push_back(byte);
    }
    std::memcpy(buffer, stored.data(), stored.size());
    if (length) *length = stored.size();
    return aErrNone;
}

aErr aStream_ReadCStringRecord(aStream* stream, char* buffer, size_t bufferSize, const char* terminator) {
    if (!buffer || !terminator || bufferSize < 2) return aErrParam;
    size_t length = 0;
    const aErr err = aStream_ReadRecord(stream, buffer, &length, bufferSize - 1,
                                        reinterpret_cast<const uint8_t*>(terminator), std::strlen(terminator));
    if (err == aErrNone) buffer[length] = '\0';
    return err;
}

aErr aStream_ReadCString(aStream* stream, char* buffer, size_t bufferSize) {
    static const uint8_t kNul = 0;
    if (!buffer || bufferSize < 2) return aErrParam;
    size_t length = 0;
    const aErr err = aStream_ReadRecord(stream, buffer, &length, bufferSize - 1, &kNul, 1);
    if (err == aErrNone) buffer[length] = '\0';
    return err;
}

aErr aStream_WriteRecord(aStream* stream, const void* bytes, size_t count,
                         const uint8_t* terminator, size_t terminatorLength) {
    if (!sValid(stream) || !bytes || !terminator || terminatorLength == 0) return aErrParam;
    const aErr err = sPutBytes(stream, static_cast<const uint8_t*>(bytes), count);
    if (err != aErrNone) return err;
    return sPutBytes(stream, terminator, terminatorLength);
}

aErr aStream_WriteCString(aStream* stream, const char* string) {
    if (!sValid(stream) || !string) return aErrParam;
    if (!stream->putProc && !stream->writeProc) return aErrMode;
    const aErr err = sPutBytes(stream, reinterpret_cast<const uint8_t*>(string), std::strlen(string));
    if (err != aErrNone) return err;
    static const uint8_t kNul = 0;
    return stream->putProc ? stream->putProc(&kNul, stream->procRef)
                           : stream->writeProc(&kNul, 1, stream->procRef);
}

aErr aStream_WriteCStringRecord(aStream* stream, const char* string, const char* terminator) {
    if (!sValid(stream) || !string || !terminator) return aErrParam;
    const aErr err = sPutBytes(stream, reinterpret_cast<const uint8_t*>(string), std::strlen(string));
    if (err != aErrNone) return err;
    return sPutBytes(stream, reinterpret_cast<const uint8_t*>(terminator), std::strlen(terminator) + 1);
}

}  // extern "C"
