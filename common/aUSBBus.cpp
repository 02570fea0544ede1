// The choice of USB backend, and the listing of modules through it.
#include "aUSBBus.h"

#include <algorithm>
#include <atomic>
#include <vector>

#include "aUSBBackend.h"

namespace {

std::atomic<aUSBBackend> gBackend{aUSBBackendLibusb};

}  // namespace

namespace aPlatform {

UsbOpen usbOpen(uint32_t serialNumber, UsbConnectionPtr& connection) {
    return gBackend == aUSBBackendMemory ? memoryBusOpen(serialNumber, connection)
                                         : libusbOpen(serialNumber, connection);
}

}  // namespace aPlatform

extern "C" {

aErr aUSBBus_SelectBackend(aUSBBackend backend) {
    if (backend != aUSBBackendLibusb && backend != aUSBBackendMemory) return aErrParam;
    gBackend = backend;
    return aErrNone;
}

aUSBBackend aUSBBus_GetBackend(void) { return gBackend; }

aErr aUSBBus_ListDevices(aUSBDeviceInfo* devices, size_t capacity, size_t* count) {
    if (!count || (!devices && capacity > 0)) return aErrParam;
    std::vector<aUSBDeviceInfo> found;
    try {
        if (gBackend == aUSBBackendMemory)
            aPlatform::memoryBusList(found);
        else if (!aPlatform::libusbList(found))
            return aErrInitialization;
    } catch (...) {
        return aErrMemory;
    }
    std::copy_n(found.begin(), std::min(capacity, found.size()), devices);
    *count = found.size();
    return aErrNone;
}

}  // extern "C"
