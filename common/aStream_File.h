/* File streams. */
#ifndef HALCYONIX_ASTREAM_FILE_H
#define HALCYONIX_ASTREAM_FILE_H

#include "aError.h"
#include "aStream.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A stream that reads the file; aErrResource when it cannot be opened. */
aErr aStream_CreateFileInput(const char* path, aStream** stream);
/* A stream that writes (creates) the file; aErrResource, with *stream NULL, when it cannot be
   opened. */
aErr aStream_CreateFileOutput(const char* path, aStream** stream);

#ifdef __cplusplus
}
#endif

#endif
