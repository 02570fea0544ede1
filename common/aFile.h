/* Plain files with three open modes. */
#ifndef HALCYONIX_AFILE_H
#define HALCYONIX_AFILE_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "aError.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct aFile aFile;

typedef enum {
    aFileModeReadOnly = 0,
    aFileModeWriteOnly = 1, /* truncates or creates; each write reaches the disk before it returns */
    aFileModeAppend = 2     /* read and write, created when missing, positioned at the end; synced */
} aFileMode;

typedef enum {
    aSeekStart = 0,
    aSeekCurrent = 1,
    aSeekEnd = 2
} aFileSeekOrigin;

aFile* aFile_Open(const char* path, int mode);
aErr aFile_Close(aFile** file);
aErr aFile_Read(aFile* file, void* buffer, size_t count, size_t* read);
aErr aFile_ReadLine(aFile* file, char* buffer, size_t size, size_t* length);
aErr aFile_Write(aFile* file, const void* buffer, size_t count, size_t* written);
aErr aFile_Printf(aFile* file, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
aErr aFile_Seek(aFile* file, int32_t offset, int origin);
aErr aFile_GetPosition(aFile* file, uint32_t* position);
aErr aFile_GetSize(aFile* file, uint32_t* size);
aErr aFile_SetUnbuffered(aFile* file);
bool aFile_Exists(const char* path);
aErr aFile_Delete(const char* path);

#ifdef __cplusplus
}
#endif

#endif
