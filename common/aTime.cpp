#include "aTime.h"

#include "aPlatform.h"

extern "C" {

uint32_t aTime_GetMSTicks(void) { return static_cast<uint32_t>(aPlatform::monotonicMilliseconds()); }

aErr aTime_MSSleep(uint32_t ms) {
    if (ms > 0) aPlatform::sleepMilliseconds(ms);
    return aErrNone;
}

}  // extern "C"
