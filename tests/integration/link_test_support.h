// What the link engine's integration tests share: a simulated module run in-process behind one
// transport and driven through its control channel, and small packet helpers.
#pragma once

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "SimControl.h"
#include "SimModule.h"
#include "SimTransport.h"
#include "TestSupport.h"
#include "halcyonix.h"

namespace linktest {

using namespace std::chrono_literals;
using halcyonix_sim::ModuleConfig;
using halcyonix_sim::SimControl;
using halcyonix_sim::SimModule;
using halcyonix_sim::SimTransport;

constexpr uint32_t kSerial = 0x40F5849A;
constexpr uint8_t kAddress = 2;

// One module and its transport; `control` speaks the simulator's control language.
template <class Transport>
struct SimulatedModule {
    template <class... Args>
    explicit SimulatedModule(ModuleConfig config, Args&&... args)
        : module(config), transport(module, std::forward<Args>(args)...), channel(module, transport)
    {
    }
    std::string control(const std::string& line)
    {
        std::string answer = channel.execute(line);
        EXPECT_EQ(answer.rfind("ok", 0), 0u) << line << " -> " << answer;
        return answer;
    }
    // The number after `key=` in a control answer, or the first number after "ok ".
    unsigned number(const std::string& line, const std::string& key = "")
    {
        std::string answer = channel.execute(line);
        std::size_t at = key.empty() ? 3 : answer.find(key + "=");
        if (at == std::string::npos || at >= answer.size())
            return 0;
        return static_cast<unsigned>(std::stoul(answer.substr(key.empty() ? at : at + key.size() + 1)));
    }

    SimModule module;
    Transport transport;
    SimControl channel;
};

inline ModuleConfig moduleConfig(uint32_t heartbeatMs = 0)
{
    ModuleConfig config;
    config.serialNumber = kSerial;
    config.address = kAddress;
    config.heartbeatIntervalMs = heartbeatMs;
    return config;
}

inline uint32_t loopback()
{
    return htonl(INADDR_LOOPBACK);
}

inline bool waitForStatus(uint32_t link, linkStatus status, std::chrono::milliseconds timeout = 20s)
{
    return hxtest::waitFor([&] { return aLink_GetStatus(link) == status; }, timeout);
}

inline uint8_t isEcho(const aPacket* packet, void*)
{
    return packet->dataSize > 0 && packet->data[0] == 23;
}

inline uint8_t isHeartbeat(const aPacket* packet, void*)
{
    return packet->dataSize == 2 && packet->data[0] == 0;
}

// Sends an echo request with `tag` and waits for its answer; true when it came back intact.
inline bool echoes(uint32_t link, uint8_t tag, uint32_t timeoutMs = 5000)
{
    const uint8_t request[4] = {23, tag, 0x5A, 0xA5};
    aPacket* packet = aPacket_CreateWithData(kAddress, sizeof request, request);
    aErr put = aLink_PutPacket(link, packet);
    aPacket_Destroy(&packet);
    if (put != aErrNone)
        return false;
    // Answers to earlier, lost requests may still arrive: look for this one.
    const uint32_t deadline = aTime_GetMSTicks() + timeoutMs;
    while (static_cast<int32_t>(deadline - aTime_GetMSTicks()) > 0) {
        aPacket* answer = aLink_AwaitFirst(link, isEcho, nullptr, 200);
        if (!answer) {
            // A link that is not running answers at once: wait for it without spinning.
            if (aLink_GetStatus(link) != linkRunning)
                aTime_MSSleep(10);
            continue;
        }
        bool same = answer->address == kAddress && answer->dataSize == 4 && answer->data[1] == tag &&
                    answer->data[2] == 0x5A && answer->data[3] == 0xA5;
        aPacket_Destroy(&answer);
        if (same)
            return true;
    }
    return false;
}

// A link that always ends destroyed, whatever the test did.
struct LinkHolder {
    uint32_t id = 0;
    ~LinkHolder()
    {
        if (id)
            aLink_Destroy(&id);
    }
};

}  // namespace linktest
