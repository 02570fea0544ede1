/* The USB stream: a module's vendor interface (bulk IN and OUT) as a byte stream. */
#ifndef HALCYONIX_ASTREAM_USB_H
#define HALCYONIX_ASTREAM_USB_H

#include <stdint.h>

#include "aError.h"
#include "aStream.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Opens the module with this serial number through the selected USB backend (aUSBBus.h).
   aErrBusy when another program holds it, aErrNotFound when no such module is present,
   aErrInitialization when its vendor interface cannot be set up, aErrPermission when a module
   could not be opened for lack of rights. Reads deliver the bytes of bulk IN transfers one at a
   time and give aErrNotReady after 1000 ms without data. */
aErr aStream_CreateUSB(uint32_t serialNumber, aStream** stream);

#ifdef __cplusplus
}
#endif

#endif
