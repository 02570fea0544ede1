/* Paths and directories. Paths are narrow strings; the separator is "/". */
#ifndef HALCYONIX_ADIRECTORY_H
#define HALCYONIX_ADIRECTORY_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "aError.h"

#ifdef __cplusplus
extern "C" {
#endif

#define aDIRECTORY_SEPARATOR '/'

/* One entry handed to an aDirectory_List callback. */
typedef struct aDirectoryEntry {
    const char* path;   /* the listed directory joined with the entry name */
    uint32_t size;      /* low 32 bits of the entry's size in bytes */
    bool isDirectory;
} aDirectoryEntry;

/* Returns false to end the listing. */
typedef bool (*aDirectoryListProc)(const aDirectoryEntry* entry, void* context);

/* Joins up to 10 components (the list ends with NULL) with one separator between them. */
aErr aDirectory_BuildPath(char* dest, size_t size, const char* first, ...);
aErr aDirectory_JoinPath(char* dest, size_t size, const char* a, const char* b);
bool aDirectory_Exists(const char* path);
/* Creates the directory and every missing ancestor; mode is ignored. */
aErr aDirectory_Ensure(const char* path, unsigned int mode);
aErr aDirectory_List(const char* path, aDirectoryListProc callback, void* context);
aErr aDirectory_Delete(const char* path);
aErr aDirectory_DeleteTree(const char* path);
aErr aDirectory_CWD(char* buffer, size_t size);
aErr aDirectory_ExecutableFilePath(char* buffer, size_t size);
/* HOME, else the password database; aErrNotFound when neither names a directory. */
aErr aDirectory_GetHomeDirectory(char* buffer, size_t size);

#ifdef __cplusplus
}
#endif

#endif
