// Commands whose workflows are not built yet. Each stub says so on the display and returns
// its operation's failure value; a workflow's own file replaces its stub here.
#include "UpdaterApp.h"

bool UpdaterApp::GetFingerprint(uint32_t[4], const std::string&, uint32_t, const std::string&,
                                uint32_t, bool)
{
    displayPrintf(display(), 1, "The fingerprint command (-N) is not built yet");
    return false;
}

std::vector<DiscoveredModule> UpdaterApp::DiscoverThroughRouter(uint32_t, int)
{
    displayPrintf(display(), 1, "Discovery through a router (-D -r) is not built yet");
    return {};
}

std::vector<DiscoveredModule> UpdaterApp::DiscoverDirect(int)
{
    displayPrintf(display(), 1, "The discovery command (-D) is not built yet");
    return {};
}

bool UpdaterApp::Recover_Firmware(const std::string&, uint32_t, uint32_t, uint32_t,
                                  const std::string&, bool)
{
    displayPrintf(display(), 1, "The recovery command (-U -t RECOVER) is not built yet");
    return false;
}

bool UpdaterApp::Update_Firmware(uint32_t, uint32_t, const std::string&, uint8_t, uint32_t, bool)
{
    displayPrintf(display(), 1, "The update command (-U) is not built yet");
    return false;
}

void PrintDiscoveredModules(UpdaterDisplayInterface& display, const std::vector<DiscoveredModule>&,
                            int)
{
    displayPrintf(display, 1, "Printing discovered modules is not built yet");
}
