// The application context: what every command workflow reaches (the update server, the
// store, the display) and the workflows themselves, one operation per command.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "UpdaterDisplay.h"
#include "aError.h"

// Build number text -> version text; shared by the server and the local build lists.
using BuildList = std::map<std::string, std::string>;

// One module found by discovery, in the order found.
struct DiscoveredModule {
    // The 128-byte link specifier discovery produced for the module, byte for byte.
    std::array<uint8_t, 128> linkSpec{};
    uint16_t busAddress = 0;     // router scan only: the address the module answered at
    uint32_t build = 0;          // 0 when not read
    uint8_t versionMajor = 0;
    uint8_t versionMinor = 0;
    uint32_t versionPatch = 0;
    std::string modelName;
    std::string deviceName;      // empty when not read
    aErr error = aErrNone;       // the first failing step's code
};

class UpdaterApp {
public:
    UpdaterApp(std::string serverAddress, std::string storePath, UpdaterDisplayInterface& display);

    const std::string& serverAddress() const { return serverAddress_; }
    const std::string& storePath() const { return storePath_; }
    UpdaterDisplayInterface& display() const { return display_; }
    bool useUEIBytes() const { return useUEIBytes_; }
    void setUseUEIBytes(bool use) { useUEIBytes_ = use; }

    // -N: fills the chip's four identifier words; serialNumber 0xDEADDEAD stands for none.
    bool GetFingerprint(uint32_t words[4], const std::string& serialPort, uint32_t serialNumber,
                        const std::string& kiteFile, uint32_t baudRate, bool resetAfter);
    // -G: the build number that was stored, 0 on failure. An empty build means the latest.
    uint32_t Download_Firmware(uint32_t serialNumber, const std::string& build, bool override,
                               bool noCalibration);
    // -D behind a router; transport 0 searches USB, then TCP/IP.
    std::vector<DiscoveredModule> DiscoverThroughRouter(uint32_t routerSerial, int transport);
    // -D on one transport, 1 USB or 2 TCPIP.
    std::vector<DiscoveredModule> DiscoverDirect(int transport);
    // -U -t RECOVER: through the chip's serial boot loader or boot ROM. Build 0: the latest.
    bool Recover_Firmware(const std::string& serialPort, uint32_t build, uint32_t baudRate,
                          uint32_t serialNumber, const std::string& kiteFile, bool override);
    // -U: into a module whose firmware runs. Build 0: the latest.
    bool Update_Firmware(uint32_t serialNumber, uint32_t build, const std::string& kiteFile,
                         uint8_t moduleAddress, uint32_t routerSerial, bool override);
    // -B: empty on failure, which the operation has reported itself.
    BuildList GetBuildListServer(uint32_t serialNumber);
    // -L
    BuildList Get_BuildListLocal(uint32_t serialNumber);

private:
    std::string serverAddress_;
    std::string storePath_;
    UpdaterDisplayInterface& display_;
    bool useUEIBytes_ = false;
};

// True when the server's build list for the module holds the build.
bool ValidateBuild(uint32_t serialNumber, uint32_t build, const char* baseUrl);
// Newest version first.
void PrintBuildList(UpdaterDisplayInterface& display, const BuildList& builds, uint32_t serialNumber);
void PrintDiscoveredModules(UpdaterDisplayInterface& display,
                            const std::vector<DiscoveredModule>& rows, int transport);
