#include <gtest/gtest.h>

#include <string>

#include "ServerComm.h"

namespace {

struct DecodeCase {
    const char* name;
    std::string text;
    bool decodes;
    std::string bytes;
};

class Base64DecodeTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(Base64DecodeTest, DecodesOrRefuses)
{
    const DecodeCase& c = GetParam();
    size_t length = 12345;
    auto decoded = base64Decode(c.text.data(), c.text.size(), &length);
    if (!c.decodes) {
        EXPECT_EQ(decoded, nullptr);
        EXPECT_EQ(length, 12345u) << "a refused text leaves the length alone";
        return;
    }
    ASSERT_NE(decoded, nullptr);
    ASSERT_EQ(length, c.bytes.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(decoded.get()), length), c.bytes);
    EXPECT_EQ(decoded[length], 0) << "the bytes are followed by a zero byte";
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Base64DecodeTest,
    ::testing::Values(
        DecodeCase{"Empty", "", true, ""},
        DecodeCase{"FullGroup", "TWFu", true, "Man"},
        DecodeCase{"OnePad", "TWE=", true, "Ma"},
        DecodeCase{"TwoPads", "TQ==", true, "M"},
        DecodeCase{"SeveralGroups", "aGVsbG8gd29ybGQ=", true, "hello world"},
        DecodeCase{"PlusAndSlash", "+/+/", true, std::string("\xfb\xff\xbf", 3)},
        DecodeCase{"ZeroBytes", "AAAA", true, std::string(3, '\0')},
        DecodeCase{"ThreeChars", "TWF", false, ""},
        DecodeCase{"FiveChars", "TWFuT", false, ""},
        DecodeCase{"OutsideAlphabet", "TW*u", false, ""},
        DecodeCase{"LineFeedInside", "TWFu\nTWE", false, ""},
        DecodeCase{"PaddingInMiddle", "TQ==TWFu", false, ""},
        DecodeCase{"ThreePads", "T===", false, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Base64Decode, AllByteValuesRoundTrip)
{
    // Encoded independently: every byte 0..255 in order, the standard text of that sequence.
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    const char* table = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (size_t i = 0; i < all.size(); i += 3) {
        const size_t n = std::min<size_t>(3, all.size() - i);
        uint32_t v = 0;
        for (size_t k = 0; k < 3; ++k)
            v = (v << 8) | (k < n ? static_cast<uint8_t>(all[i + k]) : 0u);
        for (size_t k = 0; k < 4; ++k)
            text.push_back(k <= n ? table[(v >> (18 - 6 * k)) & 63] : '=');
    }
    size_t length = 0;
    auto decoded = base64Decode(text.data(), text.size(), &length);
    ASSERT_NE(decoded, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(decoded.get()), length), all);
}

} // namespace
