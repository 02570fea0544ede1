#include "aDefs.h"

namespace {

constexpr unsigned int kFirstModel = 4;
// Indexed by model number - kFirstModel; null marks numbers without a model.
constexpr const char* kModelNames[] = {
    "SoloCoreU",    "SoloCoreE",        nullptr,      nullptr,     nullptr,      nullptr,
    nullptr,        nullptr,            nullptr,      "RackSerialIO", "RackPower1", "RackCoreE",
    "RackCoreU",    "FanoutQuad",       "RackContact", "FanoutTri",  "RackSampler1", "SelectorC",
    "RackSampler2", "RackSink1",        "FanoutTriC", "SelectorCPlus", "PowerNegotiator3", "ReachTriC",
};
constexpr unsigned int kModelCount = sizeof kModelNames / sizeof kModelNames[0];
static_assert(kFirstModel + kModelCount - 1 == 27, "the table ends with model 27");

}  // namespace

extern "C" const char* aDefs_GetModelName(unsigned int model) {
    if (model < kFirstModel || model - kFirstModel >= kModelCount) return "Unknown";
    const char* name = kModelNames[model - kFirstModel];
    return name ? name : "Unknown";
}
