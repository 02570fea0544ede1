/* The packet log: a byte ring of tagged records kept for diagnostics. */
#ifndef HALCYONIX_APACKETLOG_H
#define HALCYONIX_APACKETLOG_H

#include <stdint.h>

#include "aError.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Tags the link layer uses. */
#define aPACKETLOG_SENT 1
#define aPACKETLOG_RECEIVED 2
#define aPACKETLOG_MARKER 3

/* The log does no locking: its owner serialises every put and get. */
typedef struct aPacketLog {
    int enabled;            /* switched by the owner; 0 at creation */
    uint8_t* buffer;
    uint32_t size;
    uint32_t readPosition;  /* the oldest record */
    uint32_t writePosition; /* where the next record starts */
} aPacketLog;

/* NULL when memory is short or the size is 0. */
aPacketLog* aPacketLog_Create(uint32_t size);
aErr aPacketLog_Destroy(aPacketLog** log);
/* Appends one record, evicting the oldest as needed; aErrOverrun when length + 2 is not
   below the log's size. */
aErr aPacketLog_Put(aPacketLog* log, uint8_t tag, uint8_t length, const uint8_t* content);
/* Takes the oldest record. `length` carries the buffer's capacity in and the record's length
   out. aErrNotFound when empty; aErrOverrun, keeping the record, when it does not fit. */
aErr aPacketLog_Get(aPacketLog* log, uint8_t* tag, uint32_t* length, uint8_t* buffer);

#ifdef __cplusplus
}
#endif

#endif
