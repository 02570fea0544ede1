/* Byte streams: a table of four transport operations and the transport's own reference. */
#ifndef HALCYONIX_ASTREAM_H
#define HALCYONIX_ASTREAM_H

#include <stddef.h>
#include <stdint.h>

#include "aError.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct aStream aStream;

/* The transport contract: getProc gives aErrNone with one byte, aErrNotReady when no byte came
   within the transport's bounded read time-out, aErrEOF at the end of the source, another code
   for a failure. writeProc writes the whole block or reports a failure. One thread may read
   while another writes. */
typedef aErr (*aStreamGetProc)(uint8_t* byte, void* reference);
typedef aErr (*aStreamPutProc)(const uint8_t* byte, void* reference);
typedef aErr (*aStreamWriteProc)(const uint8_t* bytes, size_t count, void* reference);
typedef aErr (*aStreamDeleteProc)(void* reference);

/* Any operation may be NULL. NULL when memory is short. */
aStream* aStream_Create(aStreamGetProc getProc, aStreamPutProc putProc, aStreamWriteProc writeProc,
                        aStreamDeleteProc deleteProc, void* reference);
/* Runs deleteProc, frees the stream and nulls the caller's pointer (also when it fails). */
aErr aStream_Destroy(aStream** stream);

/* Reads exactly `count` bytes. When the transport times out part way, the bytes already taken
   are kept for the next read and aErrNotReady is returned with the buffer untouched. At the end
   of the source the bytes before it are delivered with aErrEOF. */
aErr aStream_Read(aStream* stream, void* buffer, size_t count);
/* Two or more bytes go through one writeProc call where the stream has one. */
aErr aStream_Write(aStream* stream, const void* bytes, size_t count);
/* Copies the input to the output until the input ends. */
aErr aStream_Flush(aStream* input, aStream* output);

/* Reads one record of at most maxLength bytes ended by the terminator, whose bytes must come in
   order but need not be adjacent; they are not stored. A record that fills maxLength ends
   there. A maxLength of 0 is refused with aErrParam, reading nothing. */
aErr aStream_ReadRecord(aStream* stream, void* buffer, size_t* length, size_t maxLength,
                        const uint8_t* terminator, size_t terminatorLength);
/* Read up to a NUL (or the terminator string) and store a terminated string of at most
   bufferSize - 1 characters; a bufferSize below 2 is refused with aErrParam. */
aErr aStream_ReadCString(aStream* stream, char* buffer, size_t bufferSize);
aErr aStream_ReadCStringRecord(aStream* stream, char* buffer, size_t bufferSize, const char* terminator);

aErr aStream_WriteRecord(aStream* stream, const void* bytes, size_t count,
                         const uint8_t* terminator, size_t terminatorLength);
/* The string and its NUL. */
aErr aStream_WriteCString(aStream* stream, const char* string);
/* The string without its NUL, then the terminator with its NUL. */
aErr aStream_WriteCStringRecord(aStream* stream, const char* string, const char* terminator);

#ifdef __cplusplus
}
#endif

#endif
