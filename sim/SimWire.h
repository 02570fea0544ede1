// The simulator's own view of the wire: link packets, their images, the byte-wise parser of a
// raw link (TCP, USB) and the CRC-8/COBS frames of a packetized serial link. Written apart from
// the library on purpose, so that the two sides check each other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace halcyonix_sim {

constexpr std::size_t kMaxPacketData = 28;

struct SimPacket {
    uint8_t address = 0;
    std::vector<uint8_t> data;

    // Address, length, data.
    std::vector<uint8_t> image() const;
    bool operator==(const SimPacket&) const = default;
};

// CRC-8 with the reflected polynomial 0x8C, initial value 0, no final inversion.
uint8_t crc8(const uint8_t* bytes, std::size_t count);

// COBS without the trailing delimiter.
std::vector<uint8_t> cobsEncode(const std::vector<uint8_t>& bytes);
// Nothing when the frame is malformed.
std::optional<std::vector<uint8_t>> cobsDecode(const std::vector<uint8_t>& frame);

// One packetized serial frame: COBS(image + CRC-8) then a zero byte.
std::vector<uint8_t> encodeFrame(const SimPacket& packet);

// Collects the packets of a raw link from its bytes: address, length, data. A zero address or
// a length above 28 cannot begin a packet, so that byte is skipped.
class RawPacketParser {
public:
    std::optional<SimPacket> feed(uint8_t byte);
    void reset();

private:
    SimPacket partial_;
    int stage_ = 0;  // 0 address, 1 length, 2 data
    std::size_t expected_ = 0;
};

// Collects the packets of a packetized serial link. Frames that fail the COBS, length or CRC
// checks are counted and dropped.
class FramePacketParser {
public:
    std::optional<SimPacket> feed(uint8_t byte);
    unsigned badFrames() const { return badFrames_; }

private:
    std::vector<uint8_t> frame_;
    unsigned badFrames_ = 0;
};

std::string toHex(const std::vector<uint8_t>& bytes);
// Hex digits, spaces allowed between bytes; nothing for an odd digit count or a bad digit.
std::optional<std::vector<uint8_t>> fromHex(const std::string& text);

}  // namespace halcyonix_sim
