// File streams: a byte at a time from a file, or bytes and blocks into one.
#include "aStream_File.h"

#include "aFile.h"

namespace {

aErr sFileGet(uint8_t* byte, void* reference) {
    if (!reference) return aErrIO;
    return aFile_Read(static_cast<aFile*>(reference), byte, 1, nullptr);
}

aErr sFileWrite(const uint8_t* bytes, size_t count, void* reference) {
    if (!reference) return aErrIO;
    size_t written = 0;
    const aErr err = aFile_Write(static_cast<aFile*>(reference), bytes, count, &written);
    if (err != aErrNone) return err;
    return written == count ? aErrNone : aErrWrite;
}

aErr sFilePut(const uint8_t* byte, void* reference) { return sFileWrite(byte, 1, reference); }

aErr sFileDelete(void* reference) {
    if (!reference) return aErrIO;
    auto* file = static_cast<aFile*>(reference);
    return aFile_Close(&file);
}

aErr sWrapFile(aFile* file, bool input, aStream** stream) {
    *stream = input ? aStream_Create(sFileGet, nullptr, nullptr, sFileDelete, file)
                    : aStream_Create(nullptr, sFilePut, sFileWrite, sFileDelete, file);
    if (*stream) return aErrNone;
    aFile_Close(&file);
    return aErrResource;
}

}  // namespace

extern "C" {

aErr aStream_CreateFileInput(const char* path, aStream** stream) {
    if (!path || !stream) return aErrResource;
    *stream = nullptr;
    aFile* file = aFile_Open(path, aFileModeReadOnly);
    if (!file) return aErrResource;
    return sWrapFile(file, true, stream);
}

aErr aStream_CreateFileOutput(const char* path, aStream** stream) {
    if (!path || !stream) return aErrResource;
    *stream = nullptr;
    aFile* file = aFile_Open(path, aFileModeWriteOnly);
    if (!file) return aErrResource;
    return sWrapFile(file, false, stream);
}

}  // extern "C"
