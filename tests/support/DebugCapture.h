// Collects the diagnostic channel's output for one test; the stream goes back to stderr after.
#pragma once

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "UpdaterDisplay.h"

namespace hxtest {

class DebugCapture {
public:
    explicit DebugCapture(uint32_t mask) : file_(std::tmpfile())
    {
        if (file_ == nullptr)
            throw std::runtime_error("no temporary file for the diagnostics");
        debugAddMask(mask);
        debugSetStream(file_);
    }
    ~DebugCapture()
    {
        debugSetStream(stderr);
        std::fclose(file_);
    }
    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;

    std::string text()
    {
        std::fflush(file_);
        std::rewind(file_);
        std::string all;
        char buffer[512];
        for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, file_)) > 0;)
            all.append(buffer, got);
        return all;
    }

private:
    FILE* file_;
};

}  // namespace hxtest
