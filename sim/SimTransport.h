// The transports of a simulated module, and the faults they can inject into what the module
// sends: dropped, corrupted, delayed or stray bytes, silence, a disconnect, a refused
// connection. Every fault can be switched while the transport runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "SimModule.h"
#include "SimWire.h"

namespace halcyonix_sim {

// A listening TCP socket on 127.0.0.1 (port 0: a free one, reported through `actual`); -1 with
// errno on failure.
int listenOnLoopback(uint16_t port, uint16_t& actual);

class SimTransport {
public:
    explicit SimTransport(SimModule& module);
    virtual ~SimTransport() = default;
    SimTransport(const SimTransport&) = delete;
    SimTransport& operator=(const SimTransport&) = delete;

    // The line a user or test reads to reach the module ("tcp 127.0.0.1 40001").
    virtual std::string describe() const = 0;

    void dropBytes(unsigned count);
    void corruptBytes(unsigned count);
    void setDelay(uint32_t ms);
    void setSilent(bool silent);
    void clearFaults();
    // Bytes written to the host as they are, outside any packet.
    void injectBytes(const std::vector<uint8_t>& bytes);
    // false where the transport has no such thing (then nothing changes).
    virtual bool disconnect() = 0;
    virtual bool setRefusing(bool refusing) = 0;

    SimModule& module() { return module_; }
    const SimModule& module() const { return module_; }

protected:
    // Derived classes call this first in their destructors, before their resources go.
    void detachModule();
    void deliverIncoming(const uint8_t* bytes, std::size_t count);
    virtual std::vector<uint8_t> encode(const SimPacket& packet) = 0;
    virtual std::optional<SimPacket> parse(uint8_t byte) = 0;
    virtual void writeWire(const std::vector<uint8_t>& bytes) = 0;

private:
    void transmit(const SimPacket& packet);
    void applyFaults(std::vector<uint8_t>& bytes);

    SimModule& module_;
    std::mutex faultMutex_;
    unsigned dropLeft_ = 0;
    unsigned corruptLeft_ = 0;
    uint32_t delayMs_ = 0;
    bool silent_ = false;
};

// A transport whose wire carries bare packet images, without framing (TCP, USB).
class SimRawTransport : public SimTransport {
public:
    using SimTransport::SimTransport;

protected:
    // A new host starts at a packet boundary.
    void resetParser() { parser_.reset(); }
    std::vector<uint8_t> encode(const SimPacket& packet) override { return packet.image(); }
    std::optional<SimPacket> parse(uint8_t byte) override { return parser_.feed(byte); }

private:
    RawPacketParser parser_;
};

// A first-generation network module: a TCP listener on 127.0.0.1, one host connection at a
// time (a new one replaces the old, as a reconnecting host expects).
class SimTcpTransport : public SimRawTransport {
public:
    // Port 0 picks a free one. Throws std::runtime_error when it cannot listen.
    SimTcpTransport(SimModule& module, uint16_t port);
    ~SimTcpTransport() override;

    uint16_t port() const { return port_; }
    std::string describe() const override;
    bool disconnect() override;
    bool setRefusing(bool refusing) override;

private:
    void loop();
    void followRefusal();
    void acceptHost();
    void readHost();
    void dropHost();
    void writeWire(const std::vector<uint8_t>& bytes) override;

    int listenFd_ = -1;
    uint16_t port_ = 0;
    std::mutex connectionMutex_;
    int connectionFd_ = -1;
    std::atomic<bool> refusing_{false};
    std::atomic<bool> running_{true};
    std::thread thread_;
};

// A packetized serial link on a pseudo-terminal: the host opens the slave's path.
class SimSerialTransport : public SimTransport {
public:
    // Throws std::runtime_error when no pseudo-terminal can be made.
    explicit SimSerialTransport(SimModule& module);
    ~SimSerialTransport() override;

    const std::string& slavePath() const { return slavePath_; }
    std::string describe() const override;
    unsigned badFrames() const { return badFrames_; }
    bool disconnect() override { return false; }
    bool setRefusing(bool) override { return false; }

private:
    void loop();
    std::vector<uint8_t> encode(const SimPacket& packet) override;
    std::optional<SimPacket> parse(uint8_t byte) override;
    void writeWire(const std::vector<uint8_t>& bytes) override;

    int masterFd_ = -1;
    int slaveFd_ = -1;
    std::string slavePath_;
    std::mutex writeMutex_;
    std::atomic<bool> running_{true};
    std::atomic<unsigned> badFrames_{0};
    FramePacketParser parser_;
    std::thread thread_;
};

}  // namespace halcyonix_sim
