/* Packed versions (major, minor, patch in one 32-bit value) and the library's own version. */
#ifndef HALCYONIX_AVERSION_H
#define HALCYONIX_AVERSION_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

uint32_t aVersion_Pack(uint8_t major, uint8_t minor, uint8_t patch);
uint8_t aVersion_ParseMajor(uint32_t packed);
uint8_t aVersion_ParseMinor(uint32_t packed);
uint32_t aVersion_ParsePatch(uint32_t packed);
bool aVersion_IsLegacyFormat(uint32_t packed);
/* Writes "major.minor.patch" into buffer (bounded, terminated); returns the formatter's result. */
int aVersion_ParseString(uint32_t packed, char* buffer, size_t size);

uint8_t aVersion_GetMajor(void);
uint8_t aVersion_GetMinor(void);
uint32_t aVersion_GetPatch(void);
/* The library version text "2.12.1", in a static buffer. */
const char* aVersion_GetString(void);
/* True when the library version is at least major.minor.patch. */
bool aVersion_IsAtLeast(uint8_t major, uint8_t minor, uint8_t patch);
/* True when major.minor.patch is at least refMajor.refMinor.refPatch. */
bool aVersion_IsAtLeastCompare(uint8_t major, uint8_t minor, uint8_t patch,
                               uint8_t refMajor, uint8_t refMinor, uint8_t refPatch);

/* A newly allocated text of "name - description" entries; release with aVersion_DestroyFeatureList. */
char* aVersion_GetFeatureList(void);
void aVersion_DestroyFeatureList(char** list);
bool aVersion_HasFeature(const char* name);

#ifdef __cplusplus
}
#endif

#endif
