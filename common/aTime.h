/* A monotonic millisecond clock and sleeping. */
#ifndef HALCYONIX_ATIME_H
#define HALCYONIX_ATIME_H

#include <stdint.h>

#include "aError.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Milliseconds of the monotonic clock, as a 32-bit count that wraps. */
uint32_t aTime_GetMSTicks(void);
/* Sleeps the calling thread; 0 returns at once. */
aErr aTime_MSSleep(uint32_t ms);

#ifdef __cplusplus
}
#endif

#endif
