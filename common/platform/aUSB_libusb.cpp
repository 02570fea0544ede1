// The libusb backend: finds a module by vendor and serial string, claims its vendor interface
// and moves bulk transfers. Thin on purpose: the stream's logic sits above the seam.
#include <libusb.h>

#include <cstdlib>
#include <mutex>

#include "aUSBBackend.h"

namespace aPlatform {

namespace {

libusb_context* sContext() {
    static libusb_context* context = nullptr;
    static std::once_flag once;
    std::call_once(once, [] {
        if (libusb_init(&context) != 0) context = nullptr;
    });
    return context;
}

UsbTransfer sTransferResult(int result, int transferred) {
    switch (result) {
    case 0: return UsbTransfer::Done;
    case LIBUSB_ERROR_TIMEOUT: return transferred > 0 ? UsbTransfer::Done : UsbTransfer::TimedOut;
    case LIBUSB_ERROR_NO_DEVICE: return UsbTransfer::Gone;
    case LIBUSB_ERROR_INTERRUPTED: return UsbTransfer::Cancelled;
    default: return UsbTransfer::Failed;
    }
}

struct Endpoints {
    int interface = -1;
    uint8_t in = 0, out = 0;
    uint16_t inSize = 0, outSize = 0;
};

class LibusbConnection : public UsbConnection {
public:
    LibusbConnection(libusb_device_handle* handle, const Endpoints& endpoints)
        : handle_(handle), endpoints_(endpoints) {}
    ~LibusbConnection() override {
        libusb_release_interface(handle_, endpoints_.interface);
        libusb_close(handle_);
    }
    uint16_t inMaxPacketSize() const override { return endpoints_.inSize; }
    uint16_t outMaxPacketSize() const override { return endpoints_.outSize; }
    UsbTransfer bulkIn(uint8_t* buffer, size_t capacity, size_t& got, uint32_t timeoutMs) override {
        int transferred = 0;
        const int result = libusb_bulk_transfer(handle_, endpoints_.in, buffer, static_cast<int>(capacity),
                                                &transferred, timeoutMs);
        got = static_cast<size_t>(transferred);
        return sTransferResult(result, transferred);
    }
    UsbTransfer bulkOut(const uint8_t* bytes, size_t count, size_t& sent, uint32_t timeoutMs) override {
        int transferred = 0;
        const int result = libusb_bulk_transfer(handle_, endpoints_.out, const_cast<uint8_t*>(bytes),
                                                static_cast<int>(count), &transferred, timeoutMs);
        sent = static_cast<size_t>(transferred);
        return sTransferResult(result, transferred);
    }

private:
    libusb_device_handle* handle_;
    Endpoints endpoints_;
};

// The vendor interface's bulk endpoints from alternate setting 0; false when there is none or
// it has an endpoint of an unexpected type.
bool sFindVendorInterface(libusb_device* device, Endpoints& found) {
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != 0) return false;
    bool usable = false;
    for (int i = 0; i < config->bNumInterfaces && found.interface < 0; ++i) {
        if (config->interface[i].num_altsetting < 1) continue;
        const libusb_interface_descriptor& setting = config->interface[i].altsetting[0];
        if (setting.bInterfaceClass != kVendorClass || setting.bInterfaceSubClass != kVendorSubclass ||
            setting.bInterfaceProtocol != kVendorProtocol)
            continue;
        found.interface = setting.bInterfaceNumber;
        usable = true;
        for (int e = 0; e < setting.bNumEndpoints; ++e) {
            const libusb_endpoint_descriptor& endpoint = setting.endpoint[e];
            const int type = endpoint.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK;
            if (type == LIBUSB_TRANSFER_TYPE_INTERRUPT) continue;  // never used for data
            if (type != LIBUSB_TRANSFER_TYPE_BULK) usable = false;
            else if (endpoint.bEndpointAddress & LIBUSB_ENDPOINT_IN) {
                found.in = endpoint.bEndpointAddress;
                found.inSize = endpoint.wMaxPacketSize;
            } else {
                found.out = endpoint.bEndpointAddress;
                found.outSize = endpoint.wMaxPacketSize;
            }
        }
    }
    libusb_free_config_descriptor(config);
    return usable && found.inSize > 0 && found.outSize > 0;
}

// The serial number of an opened module: its serial string read as hexadecimal.
bool sSerialNumber(libusb_device_handle* handle, uint8_t index, uint32_t& serial) {
    unsigned char text[64];
    const int length = libusb_get_string_descriptor_ascii(handle, index, text, sizeof text - 1);
    if (length <= 0) return false;
    text[length] = 0;
    char* end = nullptr;
    serial = static_cast<uint32_t>(std::strtoul(reinterpret_cast<char*>(text), &end, 16));
    return end && *end == 0;
}

UsbOpen sClaim(libusb_device* device, libusb_device_handle* handle, UsbConnectionPtr& connection) {
    Endpoints endpoints;
    if (!sFindVendorInterface(device, endpoints)) return UsbOpen::NoInterface;
    libusb_set_auto_detach_kernel_driver(handle, 1);
    const int claimed = libusb_claim_interface(handle, endpoints.interface);
    if (claimed == LIBUSB_ERROR_BUSY) return UsbOpen::Busy;
    if (claimed != 0) return UsbOpen::NoInterface;
    libusb_clear_halt(handle, endpoints.in);
    libusb_clear_halt(handle, endpoints.out);
    connection = std::make_unique<LibusbConnection>(handle, endpoints);
    return UsbOpen::Opened;
}

// Visits every opened module with its descriptor and serial number; the visitor returns true
// when it kept the handle. Reports whether some module could not be opened for lack of rights.
template <typename Visit>
bool sEachModule(Visit visit) {
    libusb_context* context = sContext();
    if (!context) return false;
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context, &list);
    bool denied = false;
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor descriptor;
        if (libusb_get_device_descriptor(list[i], &descriptor) != 0 || descriptor.idVendor != kModuleVendor)
            continue;
        libusb_device_handle* handle = nullptr;
        const int opened = libusb_open(list[i], &handle);
        if (opened != 0) {
            denied |= opened == LIBUSB_ERROR_ACCESS;
            continue;
        }
        uint32_t serial = 0;
        const bool kept = sSerialNumber(handle, descriptor.iSerialNumber, serial) &&
                          visit(list[i], handle, descriptor, serial);
        if (!kept) libusb_close(handle);
        if (kept) break;
    }
    if (count >= 0) libusb_free_device_list(list, 1);
    return denied;
}

}  // namespace

UsbOpen libusbOpen(uint32_t serialNumber, UsbConnectionPtr& connection) {
    UsbOpen result = UsbOpen::NotFound;
    const bool denied = sEachModule([&](libusb_device* device, libusb_device_handle* handle,
                                        const libusb_device_descriptor&, uint32_t serial) {
        if (serial != serialNumber) return false;
        result = sClaim(device, handle, connection);
        return result == UsbOpen::Opened;
    });
    return result == UsbOpen::NotFound && denied ? UsbOpen::Denied : result;
}

bool libusbList(std::vector<aUSBDeviceInfo>& devices) {
    if (!sContext()) return false;
    sEachModule([&](libusb_device*, libusb_device_handle*, const libusb_device_descriptor& descriptor,
                    uint32_t serial) {
        devices.push_back({serial, static_cast<uint16_t>(descriptor.idProduct & 0xFF)});
        return false;
    });
    return true;
}

}  // namespace aPlatform
