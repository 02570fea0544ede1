// A simulated module on the in-memory USB bus (in-process, for tests): bulk OUT transfers carry
// the host's packet images to the module, its answers go back as IN transfers.
#pragma once

#include <atomic>
#include <mutex>

#include "SimTransport.h"

struct aUSBBusDevice;

namespace halcyonix_sim {

class SimUsbTransport : public SimRawTransport {
public:
    // Plugs the module in with its serial number and model. Throws std::runtime_error when the
    // bus refuses the device.
    explicit SimUsbTransport(SimModule& module);
    ~SimUsbTransport() override;

    std::string describe() const override;
    // Unplugs the device; replug() puts it back.
    bool disconnect() override;
    bool replug();
    // A refusing device is held by another program: opening it gives a busy error.
    bool setRefusing(bool refusing) override;

private:
    static void onOut(const uint8_t* bytes, std::size_t length, void* reference);
    bool plug();
    void writeWire(const std::vector<uint8_t>& bytes) override;

    std::mutex deviceMutex_;
    aUSBBusDevice* device_ = nullptr;
    bool refusing_ = false;
};

}  // namespace halcyonix_sim
