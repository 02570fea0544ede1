// The command line: the settings record, its reader and the usage texts.
#pragma once

#include <cstdint>
#include <string>

#include "UpdaterDisplay.h"

enum : uint32_t {
    CMD_Discover = 0x1,       // -D
    CMD_Update = 0x2,         // -U
    CMD_BuildsServer = 0x4,   // -B
    CMD_Get = 0x8,            // -G
    CMD_Info = 0x10,          // -I
    CMD_Check = 0x20,         // -C
    CMD_Fingerprint = 0x40,   // -N
    CMD_Z = 0x80,             // -Z
    CMD_BuildsLocal = 0x200,  // -L
    CMD_Help = 0x80000000,    // -h, -H, --help
    CMD_AnyCommand = CMD_Discover | CMD_Update | CMD_BuildsServer | CMD_Get | CMD_Info |
                     CMD_Check | CMD_Fingerprint | CMD_Z | CMD_BuildsLocal,
};

enum : int {
    TRANSPORT_Invalid = 0,
    TRANSPORT_USB = 1,
    TRANSPORT_TCPIP = 2,
    TRANSPORT_Recover = 255,
};

extern const char* const kDefaultServerAddress;

struct UpdaterSettings {
    uint32_t commands = 0;
    uint32_t serialNumber = 0;
    uint32_t routerSerial = 0;
    int transport = TRANSPORT_USB;
    bool transportGiven = false;
    std::string serialPort;
    uint32_t baudRate = 115200;
    std::string kiteFile;
    std::string historyMessage;   // accepted and held only
    std::string build;            // decimal text; empty means the latest
    bool echo = false;            // accepted and held only
    std::string serverAddress = kDefaultServerAddress;
    bool optionN = false;         // accepted and held only
    std::string storeBase;        // empty: the home directory
    std::string programName;
    std::string logFile = "Updater.log";  // accepted and held only
    bool override = false;
    bool useUEIBytes = true;
    uint32_t debugMask = 0;
    bool debugMaskGiven = false;
    bool helpRequested = false;

    bool hasCommand() const { return (commands & CMD_AnyCommand) != 0; }
};

// Fills settings from the words (defaults first). Returns 0 when the line is acceptable, 1
// when any word was rejected; each rejection is reported on the display as it is read.
int ParseCommandLine(UpdaterDisplayInterface& display, int argc, const char* const argv[],
                     UpdaterSettings& settings);

// The usage texts: the short one always, then with full the parameters and commands, with
// extended and full the extended text, and with full the samples last.
std::string UsageText(bool extended, bool full);
// Writes UsageText to the standard error stream.
void PrintUsage(bool extended, bool full);

// "Updater (Version: 2.12.1 Mmm dd yyyy)"
std::string BannerText();
// The maker's notice, its years ending with the build year.
std::string NoticeText();
