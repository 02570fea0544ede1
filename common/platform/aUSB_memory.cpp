// The in-memory USB bus: simulated modules plugged in by tests and simulators, each with a
// queue of IN transfers for the host and OUT transfers for the device side.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "aUSBBackend.h"

namespace {

using Transfer = std::vector<uint8_t>;

struct BusDevice {
    uint32_t serialNumber;
    uint16_t model;
    uint16_t inMaxPacketSize;
    uint16_t outMaxPacketSize;

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Transfer> in;   // device to host
    std::deque<Transfer> out;  // host to device, when no handler takes them
    bool plugged = true;
    bool held = false;
    bool open = false;
    uint32_t failingOut = 0;

    // Held while the handler runs, so that replacing it waits for a call in progress.
    std::recursive_mutex handlerMutex;
    aUSBBusOutHandler handler = nullptr;
    void* handlerReference = nullptr;
};

using DeviceRef = std::shared_ptr<BusDevice>;

std::mutex gBusMutex;
std::map<uint32_t, DeviceRef>& sBus() {
    static auto* bus = new std::map<uint32_t, DeviceRef>;  // outlives static destruction
    return *bus;
}

DeviceRef sFind(uint32_t serialNumber) {
    std::lock_guard<std::mutex> lock(gBusMutex);
    auto found = sBus().find(serialNumber);
    return found == sBus().end() ? nullptr : found->second;
}

class MemoryConnection : public aPlatform::UsbConnection {
public:
    explicit MemoryConnection(DeviceRef device) : device_(std::move(device)) {}
    ~MemoryConnection() override {
        std::lock_guard<std::mutex> lock(device_->mutex);
        device_->open = false;
    }
    uint16_t inMaxPacketSize() const override { return device_->inMaxPacketSize; }
    uint16_t outMaxPacketSize() const override { return device_->outMaxPacketSize; }

    aPlatform::UsbTransfer bulkIn(uint8_t* buffer, size_t capacity, size_t& got, uint32_t timeoutMs) override {
        got = 0;
        std::unique_lock<std::mutex> lock(device_->mutex);
        device_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [&] { return !device_->in.empty() || !device_->plugged; });
        if (!device_->plugged) return aPlatform::UsbTransfer::Gone;
        if (device_->in.empty()) return aPlatform::UsbTransfer::TimedOut;
        Transfer transfer = std::move(device_->in.front());
        device_->in.pop_front();
        got = std::min(capacity, transfer.size());
        std::copy(transfer.begin(), transfer.begin() + static_cast<std::ptrdiff_t>(got), buffer);
        return aPlatform::UsbTransfer::Done;
    }

    aPlatform::UsbTransfer bulkOut(const uint8_t* bytes, size_t count, size_t& sent, uint32_t) override {
        sent = 0;
        std::lock_guard<std::recursive_mutex> handlerLock(device_->handlerMutex);
        {
            std::lock_guard<std::mutex> lock(device_->mutex);
            if (!device_->plugged) return aPlatform::UsbTransfer::Gone;
            if (device_->failingOut > 0) {
                --device_->failingOut;
                return aPlatform::UsbTransfer::Failed;
            }
            if (!device_->handler) {
                device_->out.emplace_back(bytes, bytes + count);
                device_->changed.notify_all();
                sent = count;
                return aPlatform::UsbTransfer::Done;
            }
        }
        device_->handler(bytes, count, device_->handlerReference);
        sent = count;
        return aPlatform::UsbTransfer::Done;
    }

private:
    DeviceRef device_;
};

}  // namespace

struct aUSBBusDevice {
    DeviceRef device;
};

namespace aPlatform {

UsbOpen memoryBusOpen(uint32_t serialNumber, UsbConnectionPtr& connection) {
    DeviceRef device = sFind(serialNumber);
    if (!device) return UsbOpen::NotFound;
    std::lock_guard<std::mutex> lock(device->mutex);
    if (!device->plugged) return UsbOpen::NotFound;
    if (device->held || device->open) return UsbOpen::Busy;  // one holder at a time, as on a real bus
    if (device->inMaxPacketSize == 0 || device->outMaxPacketSize == 0) return UsbOpen::NoInterface;
    connection.reset(new (std::nothrow) MemoryConnection(device));
    if (!connection) return UsbOpen::NoInterface;
    device->open = true;
    return UsbOpen::Opened;
}

void memoryBusList(std::vector<aUSBDeviceInfo>& devices) {
    std::lock_guard<std::mutex> lock(gBusMutex);
    for (const auto& [serial, device] : sBus()) devices.push_back({serial, device->model});
}

}  // namespace aPlatform

extern "C" {

aUSBBusDevice* aUSBBus_Plug(uint32_t serialNumber, uint16_t model, uint16_t inMaxPacketSize,
                            uint16_t outMaxPacketSize) {
    if (serialNumber == 0) return nullptr;
    try {
        auto device = std::make_shared<BusDevice>();
        device->serialNumber = serialNumber;
        device->model = model;
        device->inMaxPacketSize = inMaxPacketSize;
        device->outMaxPacketSize = outMaxPacketSize;
        std::lock_guard<std::mutex> lock(gBusMutex);
        if (!sBus().emplace(serialNumber, device).second) return nullptr;
        return new aUSBBusDevice{device};
    } catch (...) {
        return nullptr;
    }
}

aErr aUSBBus_Unplug(aUSBBusDevice** handle) {
    if (!handle || !*handle) return aErrParam;
    DeviceRef device = (*handle)->device;
    {
        std::lock_guard<std::mutex> lock(gBusMutex);
        sBus().erase(device->serialNumber);
    }
    {
        std::lock_guard<std::mutex> lock(device->mutex);
        device->plugged = false;
        device->in.clear();
        device->out.clear();
    }
    device->changed.notify_all();
    delete *handle;
    *handle = nullptr;
    return aErrNone;
}

aErr aUSBBus_SetHeld(aUSBBusDevice* handle, bool held) {
    if (!handle) return aErrParam;
    std::lock_guard<std::mutex> lock(handle->device->mutex);
    handle->device->held = held;
    return aErrNone;
}

aErr aUSBBus_SendIn(aUSBBusDevice* handle, const uint8_t* bytes, size_t length) {
    if (!handle || (!bytes && length > 0)) return aErrParam;
    BusDevice& device = *handle->device;
    if (length > device.inMaxPacketSize) return aErrSize;
    try {
        std::lock_guard<std::mutex> lock(device.mutex);
        device.in.emplace_back(bytes, bytes + length);
    } catch (...) {
        return aErrMemory;
    }
    device.changed.notify_all();
    return aErrNone;
}

aErr aUSBBus_SetOutHandler(aUSBBusDevice* handle, aUSBBusOutHandler handler, void* reference) {
    if (!handle) return aErrParam;
    BusDevice& device = *handle->device;
    std::lock_guard<std::recursive_mutex> handlerLock(device.handlerMutex);
    std::lock_guard<std::mutex> lock(device.mutex);
    device.handler = handler;
    device.handlerReference = reference;
    return aErrNone;
}

aErr aUSBBus_ReceiveOut(aUSBBusDevice* handle, uint8_t* buffer, size_t capacity, size_t* length,
                        uint32_t timeoutMs) {
    if (!handle || !length || (!buffer && capacity > 0)) return aErrParam;
    BusDevice& device = *handle->device;
    std::unique_lock<std::mutex> lock(device.mutex);
    if (!device.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return !device.out.empty(); }))
        return aErrTimeout;
    const Transfer& transfer = device.out.front();
    *length = transfer.size();
    if (transfer.size() > capacity) return aErrOverrun;
    std::copy(transfer.begin(), transfer.end(), buffer);
    device.out.pop_front();
    return aErrNone;
}

aErr aUSBBus_FailOutTransfers(aUSBBusDevice* handle, uint32_t count) {
    if (!handle) return aErrParam;
    std::lock_guard<std::mutex> lock(handle->device->mutex);
    handle->device->failingOut = count;
    return aErrNone;
}

bool aUSBBus_IsOpen(const aUSBBusDevice* handle) {
    if (!handle) return false;
    std::lock_guard<std::mutex> lock(handle->device->mutex);
    return handle->device->open;
}

}  // extern "C"
