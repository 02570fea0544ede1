#include "SimControl.h"

#include <sstream>

namespace halcyonix_sim {

namespace {

std::string joined(const std::vector<int>& values)
{
    std::string text = "ok";
    for (int value : values) {
        text += ' ';
        text += std::to_string(value);
    }
    return text;
}

bool readNumber(std::istream& words, unsigned long& value)
{
    std::string word;
    if (!(words >> word))
        return false;
    try {
        std::size_t used = 0;
        value = std::stoul(word, &used, 0);
        return used == word.size();
    } catch (const std::exception&) {
        return false;
    }
}

std::optional<bool> readSwitch(std::istream& words)
{
    std::string word;
    words >> word;
    if (word == "on")
        return true;
    if (word == "off")
        return false;
    return std::nullopt;
}

std::string rest(std::istream& words)
{
    std::string text;
    std::getline(words, text);
    return text;
}

}  // namespace

std::string SimControl::execute(const std::string& line)
{
    std::istringstream words(line);
    std::string command;
    words >> command;
    unsigned long a = 0, b = 0;
    if (command == "status") {
        ModuleConfig c = module_.config();
        char text[160];
        std::snprintf(text, sizeof text, "ok serial=%08X model=%u address=%u heartbeat=%u %s",
                      c.serialNumber, c.model, c.address, c.heartbeatIntervalMs,
                      transport_.describe().c_str());
        return text;
    }
    if (command == "routes")
        return joined(module_.routeRequests());
    if (command == "heartbeats") {
        HeartbeatCounts h = module_.heartbeats();
        return "ok sent=" + std::to_string(h.sent) + " answered=" + std::to_string(h.answered) +
               " wrong=" + std::to_string(h.wrong);
    }
    if (command == "syncs")
        return "ok " + std::to_string(module_.syncRequests());
    if (command == "received") {
        std::string text = "ok";
        for (const SimPacket& packet : module_.received()) {
            text += ' ';
            text += toHex(packet.image());
        }
        return text;
    }
    if (command == "clear") {
        module_.clearRecords();
        return "ok";
    }
    if (command == "heartbeat") {
        if (!readNumber(words, a))
            return "error heartbeat needs an interval in ms";
        module_.setHeartbeatInterval(static_cast<uint32_t>(a));
        return "ok";
    }
    if (command == "beat") {
        if (!readNumber(words, a) || a > 1)
            return "error beat needs 0 (up) or 1 (down)";
        module_.sendHeartbeat(static_cast<uint8_t>(a));
        return "ok";
    }
    if (command == "address") {
        if (!readNumber(words, a) || a == 0 || a > 0xFE || (a & 1))
            return "error address needs an even address from 2 to 254";
        module_.setAddress(static_cast<uint8_t>(a));
        return "ok";
    }
    if (command == "alternate") {
        if (!readNumber(words, a) || !readNumber(words, b) || a == 0 || a > 0xFE || (a & 1))
            return "error alternate needs an even address and a count";
        module_.alternateSyncAnswers(static_cast<uint8_t>(a), static_cast<unsigned>(b));
        return "ok";
    }
    if (command == "send") {
        std::optional<std::vector<uint8_t>> bytes = fromHex(rest(words));
        if (!bytes || bytes->size() < 2 || (*bytes)[1] > kMaxPacketData ||
            bytes->size() != (*bytes)[1] + 2u)
            return "error send needs one packet image in hex";
        module_.send(SimPacket{(*bytes)[0], std::vector<uint8_t>(bytes->begin() + 2, bytes->end())});
        return "ok";
    }
    if (command == "fault")
        return fault(words);
    return "error unknown command '" + command + "'";
}

std::string SimControl::fault(std::istream& words)
{
    std::string kind;
    words >> kind;
    unsigned long n = 0;
    if (kind == "drop" || kind == "corrupt" || kind == "delay") {
        if (!readNumber(words, n))
            return "error fault " + kind + " needs a number";
        if (kind == "drop")
            transport_.dropBytes(static_cast<unsigned>(n));
        else if (kind == "corrupt")
            transport_.corruptBytes(static_cast<unsigned>(n));
        else
            transport_.setDelay(static_cast<uint32_t>(n));
        return "ok";
    }
    if (kind == "stray") {
        std::optional<std::vector<uint8_t>> bytes = fromHex(rest(words));
        if (!bytes || bytes->empty())
            return "error fault stray needs bytes in hex";
        transport_.injectBytes(*bytes);
        return "ok";
    }
    if (kind == "silence" || kind == "refuse") {
        std::optional<bool> on = readSwitch(words);
        if (!on)
            return "error fault " + kind + " needs on or off";
        if (kind == "silence") {
            transport_.setSilent(*on);
            return "ok";
        }
        return transport_.setRefusing(*on) ? "ok" : "error this transport cannot refuse";
    }
    if (kind == "disconnect")
        return transport_.disconnect() ? "ok" : "error this transport cannot disconnect";
    if (kind == "clear") {
        transport_.clearFaults();
        return "ok";
    }
    return "error unknown fault '" + kind + "'";
}

}  // namespace halcyonix_sim
