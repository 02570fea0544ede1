// The server's build list for -B.
#include "ServerComm.h"
#include "UpdaterApp.h"

BuildList UpdaterApp::GetBuildListServer(uint32_t serialNumber)
{
    BuildList builds;
    const char* base = serverAddress().c_str();
    if (!ServerCommClass::ping(base)) {
        displayPrintf(display(), 1, "Server request failed for %s", base);
        return builds;
    }
    if (!ServerCommClass::GetBuildList(serialNumber, builds, base))
        displayPrintf(display(), 1, "Failed to retrieve builds for %08X", serialNumber);
    return builds;
}
