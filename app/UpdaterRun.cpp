#include "UpdaterRun.h"

#include <cstdlib>
#include <optional>
#include <string>

#include "UpdaterApp.h"
#include "StoreCommands.h"
#include "UpdaterSettings.h"
#include "aDirectory.h"

namespace {

constexpr size_t kPathBufferSize = 2048;
constexpr unsigned int kStoreMode = 0755;
constexpr uint32_t kNoSerialNumber = 0xDEADDEAD;

// A step either ends the run with a status or lets it go on.
using Outcome = std::optional<int>;

class UpdaterRun {
public:
    UpdaterRun(const UpdaterSettings& settings, UpdaterApp& app)
        : settings_(settings), app_(app), display_(app.display())
    {
    }

    int run();

private:
    bool wants(uint32_t bit) const { return (settings_.commands & bit) != 0; }
    // A later command's status does not hide an earlier failed fingerprint or download.
    int withPending(int status) const { return status != 0 ? status : pending_; }

    Outcome fingerprint();
    Outcome download();
    Outcome checkKite();
    Outcome showInfo();
    int discover();
    int update();
    int listBuilds(bool fromServer);

    const UpdaterSettings& settings_;
    UpdaterApp& app_;
    UpdaterDisplayInterface& display_;
    std::string build_ = settings_.build;
    int pending_ = 0;
};

int UpdaterRun::run()
{
    for (Outcome (UpdaterRun::*step)() : {&UpdaterRun::fingerprint, &UpdaterRun::download,
                                             &UpdaterRun::checkKite, &UpdaterRun::showInfo}) {
        if (Outcome status = (this->*step)())
            return *status;
    }
    if (wants(CMD_Discover))
        return withPending(discover());
    if (wants(CMD_Update))
        return withPending(update());
    if (wants(CMD_BuildsServer))
        return withPending(listBuilds(true));
    if (wants(CMD_BuildsLocal))
        return withPending(listBuilds(false));
    return pending_;
}

Outcome UpdaterRun::fingerprint()
{
    if (!wants(CMD_Fingerprint))
        return std::nullopt;
    if (settings_.serialPort.empty()) {
        displayPrintf(display_, 1, "Must specify the serial port used for connecting");
        return 1;
    }
    uint32_t words[4] = {};
    if (app_.GetFingerprint(words, settings_.serialPort, kNoSerialNumber, settings_.kiteFile,
                            settings_.baudRate, true)) {
        displayPrintf(display_, 0, "[ %08X %08X %08X %08X ]", words[0], words[1], words[2], words[3]);
        pending_ = 0;
    } else {
        displayPrintf(display_, 1, "Got no response from chip");
        pending_ = 1;
    }
    return std::nullopt;
}

Outcome UpdaterRun::download()
{
    if (!wants(CMD_Get))
        return std::nullopt;
    if (settings_.serialNumber == 0) {
        displayPrintf(display_, 1, "-G must specify a specific device via -d");
        displayPrintf(display_, 1, "--help for usage information");
        return 1;
    }
    displayPrintf(display_, 0, "Retrieving firmware for device with serial number %08X",
                  settings_.serialNumber);
    if (build_.empty()) {
        displayPrintf(display_, 0, "No build specified");
        displayPrintf(display_, 0, "Using Latest build");
    } else {
        displayPrintf(display_, 0, "Retrieving firmware build %s", build_.c_str());
    }
    const uint32_t stored =
        app_.Download_Firmware(settings_.serialNumber, build_, settings_.override, false);
    if (stored != 0)
        build_ = std::to_string(stored);
    pending_ = stored != 0 ? 0 : 1;
    return std::nullopt;
}

Outcome UpdaterRun::checkKite()
{
    if (!wants(CMD_Check))
        return std::nullopt;
    if (settings_.kiteFile.empty()) {
        displayPrintf(display_, 1, "-C must name the kite file to check with -f");
        return 1;
    }
    pending_ = withPending(CheckKiteFile(display_, settings_.kiteFile));
    return std::nullopt;
}

Outcome UpdaterRun::showInfo()
{
    if (!wants(CMD_Info))
        return std::nullopt;
    pending_ = withPending(ShowStoreInfo(display_, app_.storePath(), settings_.serialNumber));
    return std::nullopt;
}

int UpdaterRun::discover()
{
    const int transport = settings_.transportGiven && settings_.transport != TRANSPORT_Recover
                              ? settings_.transport
                              : TRANSPORT_Invalid;
    std::vector<DiscoveredModule> rows;
    if (settings_.routerSerial != 0) {
        displayPrintf(display_, 0, "Searching for Halcyonix Network devices connected to %08X",
                      settings_.routerSerial);
        rows = app_.DiscoverThroughRouter(settings_.routerSerial, transport);
    } else {
        displayPrintf(display_, 0, "Searching for Halcyonix devices");
        rows = app_.DiscoverDirect(transport == TRANSPORT_Invalid ? TRANSPORT_USB : transport);
    }
    PrintDiscoveredModules(display_, rows, transport);
    return 0;
}

// The build text as a number; 0 (the latest) when it does not start with a digit.
uint32_t buildNumber(const std::string& text)
{
    if (text.empty() || text[0] < '0' || text[0] > '9')
        return 0;
    const unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
    return value > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(value);
}

int UpdaterRun::update()
{
    const uint32_t build = buildNumber(build_);
    app_.setUseUEIBytes(settings_.useUEIBytes);
    bool done = false;
    if (settings_.transport == TRANSPORT_Recover) {
        done = app_.Recover_Firmware(settings_.serialPort, build, settings_.baudRate,
                                     settings_.serialNumber, settings_.kiteFile, settings_.override);
    } else if (settings_.serialNumber == 0) {
        displayPrintf(display_, 1, "Must specify the specific device to be updated");
        return 1;
    } else {
        done = app_.Update_Firmware(settings_.serialNumber, build, settings_.kiteFile, 0,
                                    settings_.routerSerial, settings_.override);
    }
    return done ? 0 : 1;
}

int UpdaterRun::listBuilds(bool fromServer)
{
    if (settings_.serialNumber == 0) {
        displayPrintf(display_, 1, fromServer
                                       ? "Error must supply a serial number for the List Builds command"
                                       : "Error must supply a serial number for the List Local Builds command");
        PrintUsage(false, false);
        return 1;
    }
    const BuildList builds = fromServer ? app_.GetBuildListServer(settings_.serialNumber)
                                        : app_.Get_BuildListLocal(settings_.serialNumber);
    PrintBuildList(display_, builds, settings_.serialNumber);
    return 0;
}

// The store root: the -i directory, or the home directory's ".voltaris", joined with
// "updater" and created when missing. Nothing when it cannot be had (already reported).
std::optional<std::string> resolveStoreRoot(UpdaterDisplayInterface& display,
                                            const UpdaterSettings& settings)
{
    char path[kPathBufferSize];
    if (settings.storeBase.empty()) {
        char home[kPathBufferSize];
        const aErr error = aDirectory_GetHomeDirectory(home, sizeof home);
        if (error != aErrNone) {
            debugPrintf(DEBUG_APP, "Updater: FailedaDirectory_GetHomeDirectory()==> %d\n", error);
            displayPrintf(display, 1, "Could not find the home directory; name the Voltaris directory with -i");
            return std::nullopt;
        }
        if (aDirectory_BuildPath(path, sizeof path, home, ".voltaris", "updater", nullptr) != aErrNone) {
            displayPrintf(display, 1, "Could not find updater directory at %s/.voltaris/updater", home);
            return std::nullopt;
        }
    } else if (aDirectory_JoinPath(path, sizeof path, settings.storeBase.c_str(), "updater") != aErrNone) {
        displayPrintf(display, 1, "Could not find updater directory at %s/updater",
                      settings.storeBase.c_str());
        return std::nullopt;
    }
    if (aDirectory_Ensure(path, kStoreMode) != aErrNone) {
        displayPrintf(display, 1, "Could not find updater directory at %s", path);
        return std::nullopt;
    }
    return std::string(path);
}

}  // namespace

int RunUpdater(int argc, const char* const argv[])
{
    CLI_Display display;
    debugSetStream(stderr);

    UpdaterSettings settings;
    const int parsed = ParseCommandLine(display, argc, argv, settings);
    displayPrintf(display, 0, "%s", BannerText().c_str());
    if (parsed != 0) {
        displayPrintf(display, 0, "%s", NoticeText().c_str());
        PrintUsage(false, false);
        return 1;
    }
    if (settings.helpRequested || !settings.hasCommand()) {
        displayPrintf(display, 0, "%s", NoticeText().c_str());
        PrintUsage(settings.debugMaskGiven, settings.helpRequested);
        return 0;
    }

    const std::optional<std::string> storeRoot = resolveStoreRoot(display, settings);
    if (!storeRoot)
        return 1;
    UpdaterApp app(settings.serverAddress, *storeRoot, display);
    return UpdaterRun(settings, app).run();
}
