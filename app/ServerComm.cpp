#include "ServerComm.h"

#include <array>

namespace {

constexpr int8_t kNotBase64 = -1;

constexpr std::array<int8_t, 256> makeSextetTable()
{
    std::array<int8_t, 256> table{};
    table.fill(kNotBase64);
    const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int value = 0; value < 64; ++value)
        table[static_cast<unsigned char>(alphabet[value])] = static_cast<int8_t>(value);
    return table;
}

constexpr std::array<int8_t, 256> kSextet = makeSextetTable();

size_t paddingCount(const char* text, size_t length)
{
    if (length == 0 || text[length - 1] != '=')
        return 0;
    return text[length - 2] == '=' ? 2 : 1;
}

// Padding may only close the text; every other character must be in the alphabet.
bool onlyAlphabet(const char* text, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        if (kSextet[static_cast<unsigned char>(text[i])] == kNotBase64)
            return false;
    return true;
}

} // namespace

std::unique_ptr<uint8_t[]> base64Decode(const char* text, size_t length, size_t* decodedLength)
{
    if (text == nullptr || decodedLength == nullptr || length % 4 != 0)
        return nullptr;
    const size_t padding = paddingCount(text, length);
    if (!onlyAlphabet(text, length - padding))
        return nullptr;

    const size_t outLength = length / 4 * 3 - padding;
    auto bytes = std::make_unique<uint8_t[]>(outLength + 1);
    size_t out = 0;
    for (size_t group = 0; group < length; group += 4) {
        uint32_t bits = 0;
        for (size_t i = 0; i < 4; ++i) {
            const int8_t sextet = kSextet[static_cast<unsigned char>(text[group + i])];
            bits = (bits << 6) | static_cast<uint32_t>(sextet == kNotBase64 ? 0 : sextet);
        }
        for (int shift = 16; shift >= 0 && out < outLength; shift -= 8)
            bytes[out++] = static_cast<uint8_t>(bits >> shift);
    }
    bytes[outLength] = 0;
    *decodedLength = outLength;
    return bytes;
}
