/* A logger: runs a caller's pump function on its own thread, again and again, until disabled. */
#ifndef HALCYONIX_ALOGGER_H
#define HALCYONIX_ALOGGER_H

#include <stdint.h>

#include "aError.h"
#include "aFile.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct aLogger aLogger;

/* Called on the logger's thread with its append-mode log file; waits or sleeps when idle. */
typedef void (*aLoggerPumpProc)(aFile* logFile, uint32_t userValue);

aLogger* aLogger_Create(uint32_t userValue, aLoggerPumpProc pump, const char* path);
aErr aLogger_Enable(aLogger* logger);
aErr aLogger_Disable(aLogger* logger);
aErr aLogger_Destroy(aLogger** logger);

#ifdef __cplusplus
}
#endif

#endif
