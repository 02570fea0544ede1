// Fetching a build from the update server into the module's record of the store (-G), the
// check of a build against the server's list, and the server's build list for -B.
#include <cerrno>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <future>
#include <system_error>
#include <thread>

#include "ServerComm.h"
#include "Store.h"
#include "UpdaterApp.h"

namespace {

// The build text as an unsigned decimal number (leading spaces and a sign allowed, the digits
// up to the first other character); false when there are no digits or the number does not fit.
bool decimalBuild(const std::string& text, uint32_t& value)
{
    const char* start = text.c_str();
    while (std::isspace(static_cast<unsigned char>(*start)))
        ++start;
    const bool negative = *start == '-';
    const char* digits = start + (*start == '+' || negative ? 1 : 0);
    if (!std::isdigit(static_cast<unsigned char>(*digits)))
        return false;
    errno = 0;
    const unsigned long long number = std::strtoull(digits, nullptr, 10);
    if (errno == ERANGE || number > UINT32_MAX || (negative && number != 0))
        return false;
    value = static_cast<uint32_t>(number);
    return true;
}

// As above, but a text that is no build number is logged and counts as 0.
uint32_t decimalBuildOrZero(const std::string& text)
{
    uint32_t value = 0;
    if (!decimalBuild(text, value)) {
        debugPrintf(DEBUG_Updater, "Error: Could not convert %s to int.\n", text.c_str());
        return 0;
    }
    return value;
}

}  // namespace

bool ValidateBuild(uint32_t serialNumber, uint32_t build, const char* baseUrl)
{
    BuildList builds;
    if (!ServerCommClass::GetBuildList(serialNumber, builds, baseUrl))
        return false;
    for (const auto& entry : builds)
        if (decimalBuildOrZero(entry.first) == build)
            return true;
    return false;
}

uint32_t UpdaterApp::Download_Firmware(uint32_t serialNumber, const std::string& buildText,
                                       bool override, bool noCalibration)
{
    uint32_t build = 0;
    if (!buildText.empty() && !decimalBuild(buildText, build)) {
        displayPrintf(display(), 1, "Build number '%s' must be an number", buildText.c_str());
        return 0;
    }
    if (serialNumber == 0) {
        displayPrintf(display(), 1, "Serial Number must be non-zero");
        return 0;
    }
    const char* base = serverAddress().c_str();
    if (!ServerCommClass::ping(base)) {
        displayPrintf(display(), 1, "Server request failed for %s", base);
        return 0;
    }

    std::unique_ptr<UpdaterStore> store = openStore(display(), storePath(), "Download_Firmware");
    if (!store)
        return 0;
    StoreItem record;
    if (!store->FindDevice(serialNumber, &record)) {
        debugPrintf(DEBUG_APP, "Could not find device in our update history.\n");
        try {
            record = store->CreateDevice(serialNumber);
        } catch (const std::runtime_error&) {
            displayPrintf(display(), 1, "Could not create directory for storing KITE file");
            return 0;
        }
    }

    std::string serverBuild, designation;
    if (!ServerCommClass::QueryBuild(serialNumber, serverBuild, designation, base)) {
        displayPrintf(display(), 1, "No build information for device");
        return 0;
    }
    if (build == 0)
        build = decimalBuildOrZero(serverBuild);

    displayPrintf(display(), 0, "Retrieving build %u", build);
    if (override) {
        displayPrintf(display(), 0, "Override specified, skipping validation of build %u", build);
    } else {
        displayPrintf(display(), 0, "Validating build %u with server", build);
        if (!ValidateBuild(serialNumber, build, base)) {
            displayPrintf(display(), 1, "No valid build %u", build);
            return 0;
        }
        displayPrintf(display(), 0, "Build %u is valid", build);
    }

    // The request may take long; the console shows it is alive meanwhile. The worker touches
    // only the image text and the promise, and is joined before either is read.
    std::string image;
    std::promise<bool> done;
    std::future<bool> result = done.get_future();
    auto fetch = [&, buildNumber = std::to_string(build)] {
        bool received = false;
        try {
            received = ServerCommClass::GetBuild(serialNumber, designation, buildNumber, image, base,
                                                 noCalibration);
        } catch (...) {
            received = false;
        }
        done.set_value(received);
    };
    std::thread worker;
    try {
        worker = std::thread(fetch);
    } catch (const std::system_error&) {
        done.set_value(false);  // no thread to be had: a failed download, not a throw
    }
    display().showActivity(true, "Downloading");
    while (result.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready)
        display().showActivity(true, "Downloading");
    display().showActivity(false, "Downloading");
    const bool received = result.get();
    if (worker.joinable())
        worker.join();
    if (!received)
        displayPrintf(display(), 1, "Download failed");

    if (image.empty()) {
        displayPrintf(display(), 1, "Failed to retrieve a valid KITE file");
        return 0;
    }
    size_t length = 0;
    std::unique_ptr<uint8_t[]> bytes = base64Decode(image.data(), image.size(), &length);
    if (!bytes || length == 0) {
        // A damaged image is never stored, and the record keeps naming what it had.
        displayPrintf(display(), 1, "The KITE file from the server is not valid base64");
        return 0;
    }
    const std::string fileName = std::to_string(build) + ".kite";
    const aErr written = store->writeFile(record, fileName, bytes.get(), length);
    if (written != aErrNone) {
        // Nothing was stored, so the record must not claim a download.
        displayPrintf(display(), 1, "Failed to write file with %d", static_cast<int>(written));
        return 0;
    }
    record.attributes.setText("LATEST_DOWNLOAD", fileName);
    record.attributes.setText("LAST_DOWNLOAD_DATE", Attributes::timeText());
    record.attributes.save();
    return build;
}

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
