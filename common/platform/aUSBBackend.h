// The seam under the USB stream: open a module's vendor interface by serial number, bulk IN
// with a time-out, bulk OUT, close. Two backends implement it: libusb for real devices and the
// in-memory bus (aUSBBus.h) for simulated ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "aUSBBus.h"

namespace aPlatform {

enum class UsbTransfer { Done, TimedOut, Cancelled, Gone, Failed };

// One opened vendor interface; closing is destruction. One thread may read while another
// writes.
class UsbConnection {
public:
    virtual ~UsbConnection() = default;
    virtual uint16_t inMaxPacketSize() const = 0;
    virtual uint16_t outMaxPacketSize() const = 0;
    // One IN transfer of up to `capacity` bytes; `got` may be 0 for a zero-length transfer.
    virtual UsbTransfer bulkIn(uint8_t* buffer, size_t capacity, size_t& got, uint32_t timeoutMs) = 0;
    // One OUT transfer; `sent` says how much of it went out.
    virtual UsbTransfer bulkOut(const uint8_t* bytes, size_t count, size_t& sent, uint32_t timeoutMs) = 0;
};

enum class UsbOpen { Opened, Busy, NotFound, NoInterface, Denied };

using UsbConnectionPtr = std::unique_ptr<UsbConnection>;

// The module vendor identifier, and the vendor interface every module offers.
constexpr uint16_t kModuleVendor = 0x3A9F;
constexpr uint8_t kVendorClass = 0xFF;
constexpr uint8_t kVendorSubclass = 0x88;
constexpr uint8_t kVendorProtocol = 0x10;

// Opens through the backend the program selected (aUSBBus_SelectBackend).
UsbOpen usbOpen(uint32_t serialNumber, UsbConnectionPtr& connection);

UsbOpen libusbOpen(uint32_t serialNumber, UsbConnectionPtr& connection);
bool libusbList(std::vector<aUSBDeviceInfo>& devices);
UsbOpen memoryBusOpen(uint32_t serialNumber, UsbConnectionPtr& connection);
void memoryBusList(std::vector<aUSBDeviceInfo>& devices);

}  // namespace aPlatform
