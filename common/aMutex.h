/* Named recursive mutexes. */
#ifndef HALCYONIX_AMUTEX_H
#define HALCYONIX_AMUTEX_H

#include "aError.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct aMutex aMutex;

/* An unlocked recursive mutex; NULL when the name has 256 characters or more. */
aMutex* aMutex_Create(const char* name);
aErr aMutex_Lock(aMutex* mutex);
aErr aMutex_Unlock(aMutex* mutex);
/* aErrNone when taken (also when the caller already owns it), aErrBusy when another thread does. */
aErr aMutex_TryLock(aMutex* mutex);
/* aErrBusy, freeing nothing, while another thread owns the mutex. */
aErr aMutex_Destroy(aMutex** mutex);
const char* aMutex_Identifier(aMutex* mutex);

#ifdef __cplusplus
}
#endif

#endif
