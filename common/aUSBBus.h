/* The USB backend of the library, and the in-memory bus that stands in for real USB.

   The USB stream (aStream_USB.h) and USB discovery reach devices through one process-wide
   backend: libusb (the default, real devices) or the in-memory bus. A program or test selects
   the bus with aUSBBus_SelectBackend before it opens USB links; nothing else selects it.

   On the bus, a simulated device is plugged with its serial number, model and the maximum
   packet sizes of its bulk IN and OUT endpoints. The host side sees it as a module's vendor
   interface: aStream_CreateUSB(serial) opens it, reads take the IN transfers the device side
   queued with aUSBBus_SendIn, writes arrive at the device side as OUT transfers, one per bulk
   transfer, through the OUT handler or, without one, through aUSBBus_ReceiveOut.

   Every function is thread-safe; a device may be fed from any thread. */
#ifndef HALCYONIX_AUSBBUS_H
#define HALCYONIX_AUSBBUS_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "aError.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef enum {
    aUSBBackendLibusb = 0, /* real devices through libusb-1.0 */
    aUSBBackendMemory = 1  /* the in-memory bus below */
} aUSBBackend;

/* Selects the backend for streams and enumerations opened from now on. */
aErr aUSBBus_SelectBackend(aUSBBackend backend);
aUSBBackend aUSBBus_GetBackend(void);

/* One module on the USB side, as enumeration reports it. */
typedef struct aUSBDeviceInfo {
    uint32_t serialNumber;
    uint16_t model;      /* the product identifier 0x00xx */
} aUSBDeviceInfo;

/* Fills up to `capacity` entries with the modules (vendor 0x3A9F) the selected backend sees
   and reports their number through `count` (which may exceed `capacity`). */
aErr aUSBBus_ListDevices(aUSBDeviceInfo* devices, size_t capacity, size_t* count);

typedef struct aUSBBusDevice aUSBBusDevice;

/* Called for every OUT transfer the host makes, on the host writer's thread; it must not
   block for long. The bytes are valid during the call only. */
typedef void (*aUSBBusOutHandler)(const uint8_t* bytes, size_t length, void* reference);

/* Plugs a device into the bus. A maximum packet size of 0 leaves that endpoint out, so that
   opening the device fails as a device without a usable vendor interface (aErrInitialization).
   NULL when the serial number is 0 or already plugged, or memory is short. */
aUSBBusDevice* aUSBBus_Plug(uint32_t serialNumber, uint16_t model,
                            uint16_t inMaxPacketSize, uint16_t outMaxPacketSize);
/* Unplugs and frees the device and nulls the caller's pointer. Streams still open on it then
   report aErrIO. */
aErr aUSBBus_Unplug(aUSBBusDevice** device);
/* Marks the device as held by another program: opening it gives aErrBusy. */
aErr aUSBBus_SetHeld(aUSBBusDevice* device, bool held);

/* Queues one IN transfer of at most the IN endpoint's maximum packet size (0 bytes is a
   zero-length transfer). aErrSize for a longer one. */
aErr aUSBBus_SendIn(aUSBBusDevice* device, const uint8_t* bytes, size_t length);
/* Installs (or, with NULL, removes) the OUT handler. */
aErr aUSBBus_SetOutHandler(aUSBBusDevice* device, aUSBBusOutHandler handler, void* reference);
/* Takes the oldest queued OUT transfer, waiting up to timeoutMs: aErrTimeout when none came,
   aErrOverrun (the transfer stays queued, `length` gives its size) when it does not fit. */
aErr aUSBBus_ReceiveOut(aUSBBusDevice* device, uint8_t* buffer, size_t capacity, size_t* length,
                        uint32_t timeoutMs);
/* Fault injection: the next `count` OUT transfers are refused (nothing is delivered). */
aErr aUSBBus_FailOutTransfers(aUSBBusDevice* device, uint32_t count);
/* Whether a host stream has the device open. */
bool aUSBBus_IsOpen(const aUSBBusDevice* device);

#ifdef __cplusplus
}
#endif

#endif
