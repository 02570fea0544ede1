#include "aVersion.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

constexpr uint8_t kMajor = 2;
constexpr uint8_t kMinor = 12;
constexpr uint8_t kPatch = 1;
constexpr uint32_t kCurrentMarker = 0x2F000000u;

struct Feature {
    const char* name;
    const char* description;
};
constexpr Feature kFeatures[] = {{"VERSION", "Version Query API"}};

bool usesCurrentLayout(uint8_t major, uint8_t minor) { return major > 2 || (major == 2 && minor >= 15); }

}  // namespace

extern "C" {

uint32_t aVersion_Pack(uint8_t major, uint8_t minor, uint8_t patch) {
    if (usesCurrentLayout(major, minor))
        return kCurrentMarker | (uint32_t{major} << 16) | (uint32_t{minor} << 8) | patch;
    return (uint32_t((major * 16u) + (minor & 15u)) << 24) | patch;
}

bool aVersion_IsLegacyFormat(uint32_t packed) {
    const uint32_t top = packed >> 28;
    const uint32_t next = (packed >> 24) & 0xF;
    return top < 2 || (top == 2 && next < 0xF);
}

uint8_t aVersion_ParseMajor(uint32_t packed) {
    return static_cast<uint8_t>(aVersion_IsLegacyFormat(packed) ? packed >> 28 : (packed >> 16) & 0xFF);
}

uint8_t aVersion_ParseMinor(uint32_t packed) {
    return static_cast<uint8_t>(aVersion_IsLegacyFormat(packed) ? (packed >> 24) & 0xF : (packed >> 8) & 0xFF);
}

uint32_t aVersion_ParsePatch(uint32_t packed) {
    return aVersion_IsLegacyFormat(packed) ? packed & 0xFFFFFF : packed & 0xFF;
}

int aVersion_ParseString(uint32_t packed, char* buffer, size_t size) {
    return snprintf(buffer, size, "%d.%d.%d", aVersion_ParseMajor(packed), aVersion_ParseMinor(packed),
                    static_cast<int>(aVersion_ParsePatch(packed)));
}

uint8_t aVersion_GetMajor(void) { return kMajor; }
uint8_t aVersion_GetMinor(void) { return kMinor; }
uint32_t aVersion_GetPatch(void) { return kPatch; }

const char* aVersion_GetString(void) {
    static char text[15];
    static std::once_flag built;
    // Concurrent first callers wait until the text is whole.
    std::call_once(built, [] { snprintf(text, sizeof text, "%d.%d%s%d", kMajor, kMinor, ".", kPatch); });
    return text;
}

bool aVersion_IsAtLeastCompare(uint8_t major, uint8_t minor, uint8_t patch, uint8_t refMajor, uint8_t refMinor,
                               uint8_t refPatch) {
    if (major != refMajor) return major > refMajor;
    if (minor != refMinor) return minor > refMinor;
    return patch >= refPatch;
}

bool aVersion_IsAtLeast(uint8_t major, uint8_t minor, uint8_t patch) {
    return aVersion_IsAtLeastCompare(kMajor, kMinor, kPatch, major, minor, patch);
}

char* aVersion_GetFeatureList(void) {
    size_t length = 1;
    for (const auto& f : kFeatures) length += strlen(f.name) + 3 + strlen(f.description) + 1;
    char* list = static_cast<char*>(malloc(length));
    if (!list) return nullptr;
    list[0] = '\0';
    bool first = true;
    for (const auto& f : kFeatures) {
        if (!first) strcat(list, "\n");
        strcat(list, f.name);
        strcat(list, " - ");
        strcat(list, f.description);
        first = false;
    }
    return list;
}

void aVersion_DestroyFeatureList(char** list) {
    if (!list) return;
    free(*list);
    *list = nullptr;
}

bool aVersion_HasFeature(const char* name) {
    if (!name) return false;
    for (const auto& f : kFeatures)
        if (strcmp(f.name, name) == 0) return true;
    return false;
}

}  // extern "C"
