#include "SimUsbTransport.h"

#include <algorithm>
#include <stdexcept>

#include "aUSBBus.h"

namespace halcyonix_sim {

namespace {
constexpr uint16_t kMaxPacketSize = 64;
}

SimUsbTransport::SimUsbTransport(SimModule& module) : SimRawTransport(module)
{
    if (!plug())
        throw std::runtime_error("the USB bus refused the simulated module");
}

SimUsbTransport::~SimUsbTransport()
{
    detachModule();
    disconnect();
}

bool SimUsbTransport::plug()
{
    ModuleConfig config = module().config();
    std::lock_guard lock(deviceMutex_);
    if (device_)
        return true;
    device_ = aUSBBus_Plug(config.serialNumber, config.model, kMaxPacketSize, kMaxPacketSize);
    if (!device_)
        return false;
    resetParser();
    aUSBBus_SetHeld(device_, refusing_);
    aUSBBus_SetOutHandler(device_, &SimUsbTransport::onOut, this);
    return true;
}

bool SimUsbTransport::replug()
{
    return plug();
}

std::string SimUsbTransport::describe() const
{
    char text[32];
    std::snprintf(text, sizeof text, "usb %08X", module().config().serialNumber);
    return text;
}

bool SimUsbTransport::disconnect()
{
    aUSBBusDevice* device;
    {
        std::lock_guard lock(deviceMutex_);
        device = device_;
        device_ = nullptr;  // from here on nothing more is sent to it
    }
    if (device) {
        // Waits for a host transfer still in our handler, which may be sending an answer.
        aUSBBus_SetOutHandler(device, nullptr, nullptr);
        aUSBBus_Unplug(&device);
    }
    module().setAttached(false);
    return true;
}

bool SimUsbTransport::setRefusing(bool refusing)
{
    std::lock_guard lock(deviceMutex_);
    refusing_ = refusing;
    if (device_)
        aUSBBus_SetHeld(device_, refusing);
    return true;
}

void SimUsbTransport::onOut(const uint8_t* bytes, std::size_t length, void* reference)
{
    auto* self = static_cast<SimUsbTransport*>(reference);
    self->module().setAttached(true);
    self->deliverIncoming(bytes, length);
}

void SimUsbTransport::writeWire(const std::vector<uint8_t>& bytes)
{
    std::lock_guard lock(deviceMutex_);
    if (!device_)
        return;
    for (std::size_t at = 0; at < bytes.size(); at += kMaxPacketSize) {
        std::size_t chunk = std::min<std::size_t>(kMaxPacketSize, bytes.size() - at);
        aUSBBus_SendIn(device_, bytes.data() + at, chunk);
    }
}

}  // namespace halcyonix_sim
