// One simulated module with running firmware, as the host sees it over its link: it answers
// synchronisation requests, sends heartbeats and checks their answers, records route requests,
// answers the module queries, the echo and the System entity's UEI gets and sets. A transport
// hands it every packet it receives and sends what it answers (SimTransport.h).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "SimWire.h"

namespace halcyonix_sim {

struct ModuleConfig {
    uint32_t serialNumber = 0x40F5849A;
    uint8_t model = 4;
    uint8_t address = 2;
    uint8_t router = 0;
    uint32_t version = 0x2F020C01;  // 2.12.1 in the current packed layout
    uint32_t build = 1234;
    uint32_t protocolFeatures = 0;
    std::string name = "Simulated module";
    uint32_t heartbeatIntervalMs = 0;  // 0: no heartbeats
};

struct HeartbeatCounts {
    unsigned sent = 0;
    unsigned answered = 0;  // answers with the expected value
    unsigned wrong = 0;     // answers with another value, or with none outstanding
};

class SimModule {
public:
    using Sender = std::function<void(const SimPacket&)>;

    explicit SimModule(ModuleConfig config = {});
    ~SimModule();
    SimModule(const SimModule&) = delete;
    SimModule& operator=(const SimModule&) = delete;

    // Where answers and heartbeats go; set by the transport before it delivers packets.
    void setSender(Sender sender);
    // Heartbeats go out only while a host is attached.
    void setAttached(bool attached);

    void receive(const SimPacket& packet);

    // Live changes (the control channel).
    void setHeartbeatInterval(uint32_t ms);
    void setAddress(uint8_t address);
    // The next `count` synchronisation answers alternate between `other` and the module's own
    // address, so that the host never sees two equal answers in a row.
    void alternateSyncAnswers(uint8_t other, unsigned count);
    void sendHeartbeat(uint8_t direction);
    void send(const SimPacket& packet);

    // What it saw.
    std::vector<int> routeRequests() const;
    HeartbeatCounts heartbeats() const;
    unsigned syncRequests() const;
    std::vector<SimPacket> received() const;  // the newest 1000, oldest first
    void clearRecords();
    ModuleConfig config() const;

private:
    void heartbeatLoop();
    bool handleLinkPacket(const SimPacket& packet);
    std::vector<SimPacket> answer(const SimPacket& packet);
    std::vector<SimPacket> answerQuery(const SimPacket& packet);
    std::vector<SimPacket> answerSystem(const SimPacket& packet);
    SimPacket reply(std::vector<uint8_t> data) const;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    ModuleConfig config_;
    Sender sender_;
    bool attached_ = false;
    bool ending_ = false;
    std::vector<int> routes_;
    HeartbeatCounts heartbeats_;
    std::deque<uint8_t> expectedAnswers_;
    unsigned syncRequests_ = 0;
    uint8_t alternateAddress_ = 0;
    unsigned alternateLeft_ = 0;
    bool alternateNext_ = false;
    uint8_t nextHeartbeat_ = 0;
    std::deque<SimPacket> received_;
    std::string pendingName_;  // a name set still arriving
    std::mutex sendMutex_;
    std::thread heartbeatThread_;
};

}  // namespace halcyonix_sim
