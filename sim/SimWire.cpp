#include "SimWire.h"

#include <algorithm>
#include <cctype>

namespace halcyonix_sim {

std::vector<uint8_t> SimPacket::image() const
{
    std::vector<uint8_t> bytes(data.size() + 2);
    bytes[0] = address;
    bytes[1] = static_cast<uint8_t>(data.size());
    std::copy(data.begin(), data.end(), bytes.begin() + 2);
    return bytes;
}

uint8_t crc8(const uint8_t* bytes, std::size_t count)
{
    uint8_t crc = 0;
    for (std::size_t i = 0; i < count; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint8_t>((crc >> 1) ^ 0x8C) : static_cast<uint8_t>(crc >> 1);
    }
    return crc;
}

std::vector<uint8_t> cobsEncode(const std::vector<uint8_t>& bytes)
{
    std::vector<uint8_t> out{0};
    std::size_t codeAt = 0;
    uint8_t code = 1;
    for (uint8_t byte : bytes) {
        if (byte != 0) {
            out.push_back(byte);
            ++code;
        }
        if (byte == 0 || code == 0xFF) {
            out[codeAt] = code;
            codeAt = out.size();
            out.push_back(0);
            code = 1;
        }
    }
    out[codeAt] = code;
    return out;
}

std::optional<std::vector<uint8_t>> cobsDecode(const std::vector<uint8_t>& frame)
{
    std::vector<uint8_t> out;
    std::size_t at = 0;
    while (at < frame.size()) {
        uint8_t code = frame[at++];
        if (code == 0 || at + code - 1 > frame.size())
            return std::nullopt;
        for (int i = 1; i < code; ++i) {
            if (frame[at] == 0)
                return std::nullopt;
            out.push_back(frame[at++]);
        }
        if (code != 0xFF && at < frame.size())
            out.push_back(0);
    }
    return out;
}

std::vector<uint8_t> encodeFrame(const SimPacket& packet)
{
    std::vector<uint8_t> body = packet.image();
    body.push_back(crc8(body.data(), body.size()));
    std::vector<uint8_t> frame = cobsEncode(body);
    frame.push_back(0);
    return frame;
}

std::optional<SimPacket> RawPacketParser::feed(uint8_t byte)
{
    switch (stage_) {
    case 0:
        if (byte == 0)
            return std::nullopt;
        partial_ = SimPacket{byte, {}};
        stage_ = 1;
        return std::nullopt;
    case 1:
        if (byte > kMaxPacketData) {
            reset();
            return std::nullopt;
        }
        expected_ = byte;
        stage_ = 2;
        break;
    default:
        partial_.data.push_back(byte);
        break;
    }
    if (partial_.data.size() < expected_)
        return std::nullopt;
    SimPacket done = std::move(partial_);
    reset();
    return done;
}

void RawPacketParser::reset()
{
    partial_ = SimPacket{};
    stage_ = 0;
    expected_ = 0;
}

std::optional<SimPacket> FramePacketParser::feed(uint8_t byte)
{
    if (byte != 0) {
        // Longer than any framed packet: keep collecting (bounded) so the frame fails whole.
        if (frame_.size() < 64)
            frame_.push_back(byte);
        return std::nullopt;
    }
    if (frame_.empty())
        return std::nullopt;
    std::optional<std::vector<uint8_t>> body = cobsDecode(frame_);
    frame_.clear();
    if (!body || body->size() < 3 || (*body)[1] > kMaxPacketData ||
        body->size() != static_cast<std::size_t>((*body)[1]) + 3 ||
        crc8(body->data(), body->size() - 1) != body->back()) {
        ++badFrames_;
        return std::nullopt;
    }
    return SimPacket{(*body)[0], std::vector<uint8_t>(body->begin() + 2, body->end() - 1)};
}

std::string toHex(const std::vector<uint8_t>& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (uint8_t byte : bytes) {
        text.push_back(digits[byte >> 4]);
        text.push_back(digits[byte & 0xF]);
    }
    return text;
}

std::optional<std::vector<uint8_t>> fromHex(const std::string& text)
{
    std::string digits;
    for (char c : text) {
        if (c == ' ')
            continue;
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return std::nullopt;
        digits.push_back(c);
    }
    if (digits.size() % 2 != 0)
        return std::nullopt;
    std::vector<uint8_t> bytes;
    for (std::size_t i = 0; i < digits.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return bytes;
}

}  // namespace halcyonix_sim
