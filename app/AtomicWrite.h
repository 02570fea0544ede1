// Replacing a file whole: the new bytes go to a temporary file beside it, reach the disk, and
// are renamed over the target, so a failure at any step leaves the old file as it was.
#pragma once

#include <cstddef>

#include "aError.h"

// aErrNotFound when the temporary file cannot be made (osError then holds errno), aErrWrite
// when the bytes do not all reach the disk, aErrIO when the rename fails.
aErr replaceFile(const char* path, const void* bytes, size_t length, int* osError = nullptr);
