// Error texts, packed versions, the library's own version and model names.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "aDefs.h"
#include "aError.h"
#include "aVersion.h"

namespace {

struct ErrCase {
    int code;
    const char* name;
    const char* description;
};

TEST(aError, NamesAndDescriptionsOfTheTable) {
    const ErrCase cases[] = {
        {0, "aErrNone", "Success, no error"},
        {5, "aErrBusy", "Resource busy"},
        {11, "aErrNotReady", "Not ready, no bytes available"},
        {18, "aErrTimeout", "Timeout occurred"},
        {27, "aErrShortCommand", "Halcyonix command to short"},
        {33, "aErrStreamStale", "Stream value is stale"},
        {34, "aErrUnknown", "Unknown error"},
        {35, "aErrUnknown", "Unknown error"},
        {1000, "aErrUnknown", "Unknown error"},
        {-1, "aErrUnknown", "Unknown error"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_STREQ(aError_GetErrorText(c.code), c.name);
        EXPECT_STREQ(aError_GetErrorDescription(c.code), c.description);
    }
}

TEST(aError, EveryCodeHasItsOwnName) {
    for (int a = 0; a <= aErrUnknown; ++a)
        for (int b = a + 1; b <= aErrUnknown; ++b) EXPECT_STRNE(aError_GetErrorText(a), aError_GetErrorText(b));
}

struct PackCase {
    uint8_t major, minor, patch;
    uint32_t packed;
    bool legacy;
};

TEST(aVersion, PackAndUnpackInBothLayouts) {
    const PackCase cases[] = {
        {1, 3, 7, 0x13000007u, true},     {2, 14, 200, 0x2E0000C8u, true}, {2, 14, 5, 0x2E000005u, true},
        {2, 15, 5, 0x2F020F05u, false},   {2, 15, 3, 0x2F020F03u, false},  {3, 0, 1, 0x2F030001u, false},
        {0, 0, 0, 0x00000000u, true},     {255, 255, 255, 0x2FFFFFFFu, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.major) << "." << int(c.minor) << "." << int(c.patch));
        EXPECT_EQ(aVersion_Pack(c.major, c.minor, c.patch), c.packed);
        EXPECT_EQ(aVersion_IsLegacyFormat(c.packed), c.legacy);
        EXPECT_EQ(aVersion_ParseMajor(c.packed), c.major);
        EXPECT_EQ(aVersion_ParseMinor(c.packed), c.minor);
        EXPECT_EQ(aVersion_ParsePatch(c.packed), c.patch);
    }
}

TEST(aVersion, LegacyMinorKeepsFourBitsAndPatchMayBeWide) {
    // Major 1 with minor 18: only the low four bits of the minor survive.
    EXPECT_EQ(aVersion_Pack(1, 18, 0), 0x12000000u);
    char text[32];
    EXPECT_EQ(aVersion_ParseString(0x1A0186A0u, text, sizeof text), 11);
    EXPECT_STREQ(text, "1.10.100000");
    EXPECT_EQ(aVersion_ParseString(0x2F020F03u, text, sizeof text), 6);
    EXPECT_STREQ(text, "2.15.3");
}

TEST(aVersion, ParseStringIsBoundedAndTerminated) {
    char text[4];
    memset(text, 'x', sizeof text);
    EXPECT_EQ(aVersion_ParseString(0x1A0186A0u, text, sizeof text), 11);
    EXPECT_STREQ(text, "1.1");
}

TEST(aVersion, LibraryVersionAndComparisons) {
    EXPECT_EQ(aVersion_GetMajor(), 2);
    EXPECT_EQ(aVersion_GetMinor(), 12);
    EXPECT_EQ(aVersion_GetPatch(), 1u);
    EXPECT_TRUE(aVersion_IsAtLeast(2, 12, 1));
    EXPECT_FALSE(aVersion_IsAtLeast(2, 12, 2));
    EXPECT_FALSE(aVersion_IsAtLeast(2, 13, 0));
    EXPECT_FALSE(aVersion_IsAtLeast(3, 0, 0));
    EXPECT_TRUE(aVersion_IsAtLeast(1, 99, 99));
    EXPECT_TRUE(aVersion_IsAtLeast(2, 11, 200));
    EXPECT_TRUE(aVersion_IsAtLeastCompare(1, 2, 3, 1, 2, 3));
    EXPECT_FALSE(aVersion_IsAtLeastCompare(1, 2, 3, 1, 3, 0));
    EXPECT_TRUE(aVersion_IsAtLeastCompare(2, 0, 0, 1, 255, 255));
    EXPECT_FALSE(aVersion_IsAtLeastCompare(1, 2, 2, 1, 2, 3));
}

TEST(aVersion, VersionStringIsOneStableBufferEvenWhenFirstCallsRace) {
    std::vector<const char*> seen(8);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < seen.size(); ++i) threads.emplace_back([&seen, i] { seen[i] = aVersion_GetString(); });
    for (auto& t : threads) t.join();
    for (const char* s : seen) {
        EXPECT_EQ(s, seen[0]);
        EXPECT_STREQ(s, "2.12.1");
    }
    EXPECT_EQ(aVersion_GetString(), seen[0]);
}

TEST(aVersion, FeatureList) {
    char* list = aVersion_GetFeatureList();
    ASSERT_NE(list, nullptr);
    EXPECT_STREQ(list, "VERSION - Version Query API");
    aVersion_DestroyFeatureList(&list);
    EXPECT_EQ(list, nullptr);
    EXPECT_TRUE(aVersion_HasFeature("VERSION"));
    EXPECT_FALSE(aVersion_HasFeature("version"));
    EXPECT_FALSE(aVersion_HasFeature("VERSION "));
    EXPECT_FALSE(aVersion_HasFeature(nullptr));
}

TEST(aDefs, ModelNames) {
    const std::pair<unsigned, const char*> cases[] = {
        {0, "Unknown"},          {3, "Unknown"},       {4, "SoloCoreU"},     {5, "SoloCoreE"},
        {6, "Unknown"},          {12, "Unknown"},      {13, "RackSerialIO"}, {16, "RackCoreU"},
        {20, "RackSampler1"},    {25, "SelectorCPlus"}, {26, "PowerNegotiator3"}, {27, "ReachTriC"},
        {28, "Unknown"},         {0xFFFFFFFFu, "Unknown"},
    };
    for (const auto& [model, name] : cases) {
        SCOPED_TRACE(model);
        EXPECT_STREQ(aDefs_GetModelName(model), name);
    }
}

}  // namespace
