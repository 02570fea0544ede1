// Requests to the update server and the decoding of what it sends back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// Decodes standard base64 text (A-Z, a-z, 0-9, "+", "/", "=" padding a short last group).
// The buffer holds the decoded bytes followed by one zero byte. Text whose length is not a
// multiple of four, or that holds any other character or padding before its last group,
// decodes to nothing (null) so that a damaged image is never stored as if it were whole.
std::unique_ptr<uint8_t[]> base64Decode(const char* text, size_t length, size_t* decodedLength);
