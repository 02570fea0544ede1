// Kite images built byte by byte for tests, with the tests' own layout and zlib calls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <zlib.h>

namespace hxtest::kite {

using Bytes = std::string;

inline void put32(Bytes& out, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out += static_cast<char>((value >> shift) & 0xFF);
}

inline Bytes block(uint8_t typeAndFlags, const Bytes& content)
{
    Bytes out(1, static_cast<char>(typeAndFlags));
    put32(out, static_cast<uint32_t>(content.size()));
    return out + content;
}

inline Bytes addressed(uint32_t address, const Bytes& code)
{
    Bytes out;
    put32(out, address);
    return out + code;
}

inline Bytes field(const std::string& text)
{
    Bytes out = text.substr(0, 16);
    out.resize(16, ' ');
    return out;
}

inline Bytes descriptor(const std::string& version, const std::string& serial, const std::string& model)
{
    return block(4, field("Voltaris image") + field(version) + field(serial) + field(model));
}

inline Bytes payload(uint32_t declared, const std::vector<Bytes>& blocks, uint32_t checksum = 0xC0FFEE01)
{
    Bytes out;
    put32(out, declared);
    for (const Bytes& b : blocks)
        out += b;
    put32(out, checksum);
    return out;
}

// Empty when zlib refuses, which the callers' checks then show.
inline Bytes deflated(const Bytes& plain)
{
    uLongf size = compressBound(static_cast<uLong>(plain.size()));
    Bytes out(size, '\0');
    if (compress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(plain.data()),
                 static_cast<uLong>(plain.size())) != Z_OK)
        return {};
    out.resize(size);
    return out;
}

inline Bytes image(const Bytes& plain, const Bytes& header = Bytes("kite\x01\x01", 6))
{
    return header + deflated(plain);
}

// A firmware image whose descriptor carries the version.
inline Bytes versionedImage(const std::string& version)
{
    return image(payload(2, {block(1, addressed(0x8000, "code")), descriptor(version, "00000000", "Model")}));
}

}  // namespace hxtest::kite
