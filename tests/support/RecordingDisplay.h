// A display that keeps the lines a workflow reports, for tests that check what the user reads.
#pragma once

#include <string>
#include <vector>

#include "UpdaterDisplay.h"

namespace hxtest {

struct RecordingDisplay : UpdaterDisplayInterface {
    void endProgress(bool) override {}
    void showProgress(double, const char*) override {}
    void showActivity(bool, const char*) override {}
    void showInfo(const char* line) override { infos.emplace_back(line); }
    void showError(const char* line) override { errors.emplace_back(line); }

    std::vector<std::string> infos;
    std::vector<std::string> errors;
};

}  // namespace hxtest
