#include "aFile.h"

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

#include "aPlatform.h"

struct aFile {
    uint32_t tag;
    int handle;
    int mode;
};

namespace {

constexpr uint32_t kFileTag = 0xFEED;
constexpr size_t kPrintfBufferSize = 65536;

bool valid(const aFile* file) { return file && file->tag == kFileTag; }
bool canRead(const aFile* file) { return file->mode == aFileModeReadOnly || file->mode == aFileModeAppend; }
bool canWrite(const aFile* file) { return file->mode == aFileModeWriteOnly || file->mode == aFileModeAppend; }

aPlatform::OpenMode platformMode(int mode) {
    switch (mode) {
        case aFileModeReadOnly: return aPlatform::OpenMode::Read;
        case aFileModeWriteOnly: return aPlatform::OpenMode::Write;
        default: return aPlatform::OpenMode::Append;
    }
}

}  // namespace

extern "C" {

aFile* aFile_Open(const char* path, int mode) {
    if (!path || strlen(path) >= PATH_MAX) return nullptr;
    if (mode != aFileModeReadOnly && mode != aFileModeWriteOnly && mode != aFileModeAppend) return nullptr;
    auto* file = new (std::nothrow) aFile{kFileTag, -1, mode};
    if (!file) return nullptr;
    file->handle = aPlatform::openFile(path, platformMode(mode));
    if (file->handle < 0) {
        delete file;
        return nullptr;
    }
    return file;
}

aErr aFile_Close(aFile** file) {
    if (!file || !valid(*file)) return aErrParam;
    aPlatform::closeFile((*file)->handle);
    (*file)->tag = 0;
    delete *file;
    *file = nullptr;
    return aErrNone;
}

aErr aFile_Read(aFile* file, void* buffer, size_t count, size_t* read) {
    if (!valid(file) || !buffer) return aErrParam;
    if (!canRead(file)) return aErrMode;
    long long n = aPlatform::readFile(file->handle, buffer, count);
    if (n < 0) return aErrRead;
    if (read) *read = static_cast<size_t>(n);
    if (n == 0 && count > 0) return aErrEOF;
    return aErrNone;
}

aErr aFile_ReadLine(aFile* file, char* buffer, size_t size, size_t* length) {
    if (!valid(file) || !buffer) return aErrParam;
    if (!canRead(file)) return aErrMode;
    if (length) *length = 0;
    if (size == 0) return aErrParam;
    buffer[0] = '\0';

    long long n = aPlatform::readFile(file->handle, buffer, size - 1);
    if (n < 0) return aErrIO;
    if (n == 0) return aErrEOF;
    size_t got = static_cast<size_t>(n);

    const char* lineFeed = static_cast<const char*>(memchr(buffer, '\n', got));
    size_t lineLength = got;
    if (lineFeed) {
        lineLength = static_cast<size_t>(lineFeed - buffer) + 1;
        // Leave the file positioned at the start of the next line.
        uint64_t position = 0;
        if (!aPlatform::filePosition(file->handle, position) ||
            !aPlatform::setFilePosition(file->handle, position - (got - lineLength)))
            return aErrIO;
    }
    buffer[lineLength] = '\0';
    if (length) *length = lineLength;
    if (!lineFeed && got == size - 1) return aErrOverrun;
    return aErrNone;
}

aErr aFile_Write(aFile* file, const void* buffer, size_t count, size_t* written) {
    if (!valid(file) || !buffer) return aErrParam;
    if (!canWrite(file)) return aErrMode;
    long long n = aPlatform::writeFile(file->handle, buffer, count);
    if (n < 0) return aErrWrite;
    if (written) *written = static_cast<size_t>(n);
    return aErrNone;
}

aErr aFile_Printf(aFile* file, const char* format, ...) {
    if (!valid(file) || !format) return aErrParam;
    if (!canWrite(file)) return aErrMode;
    static char buffer[kPrintfBufferSize];
    // The one formatting buffer is shared; a lock keeps two writers from mixing their texts.
    static std::mutex bufferLock;
    std::lock_guard<std::mutex> hold(bufferLock);
    va_list args;
    va_start(args, format);
    int n = vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n < 0 || static_cast<size_t>(n) >= sizeof buffer) return aErrIO;
    if (aPlatform::writeFile(file->handle, buffer, static_cast<size_t>(n)) < 0) return aErrWrite;
    return aErrNone;
}

aErr aFile_Seek(aFile* file, int32_t offset, int origin) {
    if (!valid(file)) return aErrParam;
    uint64_t size = 0, base = 0;
    if (!aPlatform::fileSize(file->handle, size)) return aErrIO;
    if (origin == aSeekCurrent) {
        if (!aPlatform::filePosition(file->handle, base)) return aErrIO;
    } else if (origin == aSeekEnd) {
        base = size;
    }
    long long target = static_cast<long long>(base) + offset;
    if (target < 0 || static_cast<uint64_t>(target) > size) return aErrRange;
    return aPlatform::setFilePosition(file->handle, static_cast<uint64_t>(target)) ? aErrNone : aErrIO;
}

aErr aFile_GetPosition(aFile* file, uint32_t* position) {
    if (!valid(file) || !position) return aErrParam;
    uint64_t at = 0;
    if (!aPlatform::filePosition(file->handle, at)) return aErrIO;
    *position = static_cast<uint32_t>(at);
    return aErrNone;
}

aErr aFile_GetSize(aFile* file, uint32_t* size) {
    if (!valid(file) || !size) return aErrParam;
    *size = 0;
    uint64_t bytes = 0;
    if (!aPlatform::fileSize(file->handle, bytes)) return aErrIO;
    *size = static_cast<uint32_t>(bytes);
    return aErrNone;
}

aErr aFile_SetUnbuffered(aFile* /*file*/) { return aErrMode; }

bool aFile_Exists(const char* path) { return path && aPlatform::exists(path) && !aPlatform::isDirectory(path); }

aErr aFile_Delete(const char* path) {
    if (!path) return aErrParam;
    switch (aPlatform::deleteFile(path)) {
        case aPlatform::DeleteResult::Deleted: return aErrNone;
        case aPlatform::DeleteResult::NotFound: return aErrNotFound;
        case aPlatform::DeleteResult::Denied: return aErrPermission;
        default: return aErrIO;
    }
}

}  // extern "C"
