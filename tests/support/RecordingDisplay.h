// A display that keeps the lines a workflow reports, for tests that check what the user reads.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "UpdaterDisplay.h"

namespace hxtest {

struct RecordingDisplay : UpdaterDisplayInterface {
    void endProgress(bool) override {}
    void showProgress(double, const char*) override {}
    void showActivity(bool active, const char* label) override
    {
        activity.emplace_back(active, label ? label : "");
    }
    void showInfo(const char* line) override { infos.emplace_back(line); }
    void showError(const char* line) override { errors.emplace_back(line); }

    std::vector<std::string> infos;
    std::vector<std::string> errors;
    std::vector<std::pair<bool, std::string>> activity;  // each call: shown or cleared, label
};

}  // namespace hxtest
