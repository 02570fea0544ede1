#include "SimModule.h"

#include <chrono>

namespace halcyonix_sim {

namespace {

constexpr uint8_t kSyncAddress = 0xAD;
constexpr uint8_t kRouteAddress = 0xAF;
constexpr uint8_t kCmdEcho = 23;
constexpr uint8_t kCmdQuery = 73;
constexpr uint8_t kCmdSystem = 3;
constexpr std::size_t kReceivedKept = 1000;

// UEI option byte and index byte bits.
constexpr uint8_t kGet = 0x40;
constexpr uint8_t kSet = 0x80;
constexpr uint8_t kRequest = 0x20;
constexpr uint8_t kErrorReply = 0x80;
constexpr uint8_t kErrUnimplemented = 21;
constexpr uint8_t kErrParam = 2;
constexpr uint8_t kErrIndexRange = 26;

void appendBig(std::vector<uint8_t>& bytes, uint32_t value, int width)
{
    for (int shift = (width - 1) * 8; shift >= 0; shift -= 8)
        bytes.push_back(static_cast<uint8_t>(value >> shift));
}

uint32_t readBig(const std::vector<uint8_t>& bytes, std::size_t from, std::size_t width)
{
    uint32_t value = 0;
    for (std::size_t i = 0; i < width; ++i)
        value = (value << 8) | bytes[from + i];
    return value;
}

// The System entity's options this module knows: option code and value width in bytes.
int systemOptionWidth(uint8_t option)
{
    switch (option) {
    case 1: case 2: case 3: case 8: case 20: return 1;
    case 7: case 9: case 43: case 45: return 4;
    default: return 0;
    }
}

}  // namespace

SimModule::SimModule(ModuleConfig config) : config_(std::move(config))
{
    heartbeatThread_ = std::thread([this] { heartbeatLoop(); });
}

SimModule::~SimModule()
{
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
    }
    wake_.notify_all();
    heartbeatThread_.join();
}

void SimModule::setSender(Sender sender)
{
    std::lock_guard lock(sendMutex_);
    sender_ = std::move(sender);
}

void SimModule::setAttached(bool attached)
{
    {
        std::lock_guard lock(mutex_);
        if (attached_ == attached)
            return;
        attached_ = attached;
        expectedAnswers_.clear();
    }
    wake_.notify_all();
}

void SimModule::send(const SimPacket& packet)
{
    std::lock_guard lock(sendMutex_);
    if (sender_)
        sender_(packet);
}

void SimModule::receive(const SimPacket& packet)
{
    {
        std::lock_guard lock(mutex_);
        received_.push_back(packet);
        if (received_.size() > kReceivedKept)
            received_.pop_front();
    }
    if (handleLinkPacket(packet))
        return;
    for (const SimPacket& out : answer(packet))
        send(out);
}

bool SimModule::handleLinkPacket(const SimPacket& packet)
{
    if (packet.address == kSyncAddress && packet.data.empty()) {
        uint8_t from;
        {
            std::lock_guard lock(mutex_);
            ++syncRequests_;
            from = config_.address;
            if (alternateLeft_ > 0) {
                --alternateLeft_;
                if (alternateNext_)
                    from = alternateAddress_;
                alternateNext_ = !alternateNext_;
            }
        }
        send(SimPacket{from, {}});
        return true;
    }
    if (packet.address == kRouteAddress && packet.data.size() == 1) {
        std::lock_guard lock(mutex_);
        routes_.push_back(packet.data[0]);
        return true;
    }
    if (packet.data.size() == 2 && packet.data[0] == 0) {
        std::lock_guard lock(mutex_);
        if (!expectedAnswers_.empty() && expectedAnswers_.front() == packet.data[1]) {
            ++heartbeats_.answered;
            expectedAnswers_.pop_front();
        } else {
            ++heartbeats_.wrong;
        }
        return true;
    }
    return false;
}

SimPacket SimModule::reply(std::vector<uint8_t> data) const
{
    return SimPacket{config_.address, std::move(data)};
}

std::vector<SimPacket> SimModule::answer(const SimPacket& packet)
{
    std::lock_guard lock(mutex_);
    if (packet.address != config_.address || packet.data.empty())
        return {};
    switch (packet.data[0]) {
    case kCmdEcho:
        return {reply(packet.data)};
    case kCmdQuery:
        return answerQuery(packet);
    case kCmdSystem:
        return answerSystem(packet);
    default:
        return {};
    }
}

std::vector<SimPacket> SimModule::answerQuery(const SimPacket& packet)
{
    const std::vector<uint8_t>& d = packet.data;
    if (d.size() < 2)
        return {};
    std::vector<uint8_t> out(d.begin(), d.begin() + 2);
    switch (d[1]) {
    case 0xFF:
        appendBig(out, config_.build, 4);
        return {reply(out)};
    case 1:  // UEI present: the System entity's known options, entity 0 only
        if (d.size() < 6)
            return {};
        out.insert(out.end(), d.begin() + 2, d.begin() + 5);
        out.push_back(d[2] == kCmdSystem && (d[4] & 0x1F) == 0 &&
                              (systemOptionWidth(d[3] & 0x3F) != 0 || (d[3] & 0x3F) == 32 ||
                               (d[3] & 0x3F) == 11)
                          ? 1
                          : 0);
        return {reply(out)};
    case 4:  // class quantity: one System entity
        if (d.size() < 3)
            return {};
        out.push_back(d[2]);
        out.push_back(d[2] == kCmdSystem ? 1 : 0);
        return {reply(out)};
    case 5:  // subclass quantity, entity group: none
    case 6:
        if (d.size() < 4)
            return {};
        out.push_back(d[2]);
        out.push_back(d[3]);
        out.push_back(0);
        return {reply(out)};
    default:
        return {};
    }
}

std::vector<SimPacket> SimModule::answerSystem(const SimPacket& packet)
{
    const std::vector<uint8_t>& d = packet.data;
    if (d.size() < 3 || !(d[2] & kRequest))
        return {};
    uint8_t option = d[1] & 0x3F;
    uint8_t index = d[2] & 0x1F;
    bool isSet = (d[1] & kSet) != 0;
    bool isGet = (d[1] & kGet) != 0;
    auto error = [&](uint8_t code) { return reply({d[0], d[1], static_cast<uint8_t>(index | kErrorReply), code}); };
    if (index != 0)
        return {error(kErrIndexRange)};

    if (option == 32 && isGet && !isSet) {  // the name, as a byte sequence
        std::vector<SimPacket> packets;
        std::size_t at = 0;
        uint8_t sequence = 0;
        do {
            std::size_t chunk = std::min<std::size_t>(24, config_.name.size() - at);
            std::vector<uint8_t> out{d[0], option, index};
            out.insert(out.end(), config_.name.begin() + at, config_.name.begin() + at + chunk);
            at += chunk;
            out.push_back(static_cast<uint8_t>(sequence++ | (at < config_.name.size() ? 0x80 : 0)));
            packets.push_back(reply(out));
        } while (at < config_.name.size());
        return packets;
    }
    if (option == 32 && isSet && !isGet) {  // a new name, as a byte sequence
        if (d.size() < 4)
            return {error(kErrParam)};
        pendingName_.append(d.begin() + 3, d.end() - 1);
        if (d.back() & 0x80)
            return {};  // more packets follow
        config_.name = std::move(pendingName_);
        pendingName_.clear();
        return {reply({d[0], static_cast<uint8_t>(option | kGet | kSet), index})};
    }
    if (option == 11 && !isGet && !isSet)  // reset: acknowledged; a lone simulated module keeps running
        return {reply({d[0], option, index})};
    int width = systemOptionWidth(option);
    if (width == 0)
        return {error(kErrUnimplemented)};
    if (isSet && !isGet) {
        if (d.size() < 3u + width)
            return {error(kErrParam)};
        uint32_t value = readBig(d, 3, width);
        switch (option) {
        case 2: config_.router = static_cast<uint8_t>(value); break;
        case 3: config_.heartbeatIntervalMs = value * 10; wake_.notify_all(); break;
        case 20: break;  // route-to-me: nothing to route in a lone module
        default: return {error(kErrParam)};  // read-only
        }
        return {reply({d[0], static_cast<uint8_t>(option | kGet | kSet), index})};
    }
    uint32_t value = 0;
    switch (option) {
    case 1: value = config_.address; break;
    case 2: value = config_.router; break;
    case 3: value = config_.heartbeatIntervalMs / 10; break;
    case 7: value = config_.version; break;
    case 8: value = config_.model; break;
    case 9: value = config_.serialNumber; break;
    case 20: value = 0; break;
    case 43: value = config_.build; break;
    case 45: value = config_.protocolFeatures; break;
    }
    std::vector<uint8_t> out{d[0], option, index};
    appendBig(out, value, width);
    return {reply(out)};
}

void SimModule::heartbeatLoop()
{
    std::unique_lock lock(mutex_);
    while (!ending_) {
        if (!attached_ || config_.heartbeatIntervalMs == 0) {
            wake_.wait(lock);
            continue;
        }
        auto interval = std::chrono::milliseconds(config_.heartbeatIntervalMs);
        if (wake_.wait_for(lock, interval) != std::cv_status::timeout)
            continue;  // woken by a change: look at the settings again
        if (ending_ || !attached_ || config_.heartbeatIntervalMs == 0)
            continue;
        uint8_t direction = nextHeartbeat_;
        nextHeartbeat_ ^= 1;
        lock.unlock();
        sendHeartbeat(direction);
        lock.lock();
    }
}

void SimModule::sendHeartbeat(uint8_t direction)
{
    uint8_t address;
    {
        std::lock_guard lock(mutex_);
        ++heartbeats_.sent;
        expectedAnswers_.push_back(static_cast<uint8_t>(direction + 2));
        // An answer that never comes must not leave the queue growing without bound.
        if (expectedAnswers_.size() > 64)
            expectedAnswers_.pop_front();
        address = config_.address;
    }
    send(SimPacket{address, {0, direction}});
}

void SimModule::setHeartbeatInterval(uint32_t ms)
{
    {
        std::lock_guard lock(mutex_);
        config_.heartbeatIntervalMs = ms;
    }
    wake_.notify_all();
}

void SimModule::setAddress(uint8_t address)
{
    std::lock_guard lock(mutex_);
    config_.address = address;
}

void SimModule::alternateSyncAnswers(uint8_t other, unsigned count)
{
    std::lock_guard lock(mutex_);
    alternateAddress_ = other;
    alternateLeft_ = count;
    alternateNext_ = false;
}

std::vector<int> SimModule::routeRequests() const
{
    std::lock_guard lock(mutex_);
    return routes_;
}

HeartbeatCounts SimModule::heartbeats() const
{
    std::lock_guard lock(mutex_);
    return heartbeats_;
}

unsigned SimModule::syncRequests() const
{
    std::lock_guard lock(mutex_);
    return syncRequests_;
}

std::vector<SimPacket> SimModule::received() const
{
    std::lock_guard lock(mutex_);
    return {received_.begin(), received_.end()};
}

void SimModule::clearRecords()
{
    std::lock_guard lock(mutex_);
    routes_.clear();
    heartbeats_ = {};
    expectedAnswers_.clear();
    syncRequests_ = 0;
    received_.clear();
}

ModuleConfig SimModule::config() const
{
    std::lock_guard lock(mutex_);
    return config_;
}

}  // namespace halcyonix_sim
