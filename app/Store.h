// The local firmware store: one directory per module under the store root, named by the
// serial number, holding the module's kite images and its attributes file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "AttributesFile.h"
#include "KiteImage.h"
#include "UpdaterDisplay.h"
#include "aError.h"

// One entry of the store; for a module record the directory is the store root.
struct StoreItem {
    std::string directory;
    std::string name;
    bool isDirectory = false;
    Attributes attributes;
};

// Joins the texts with one separator each; nothing is normalised.
std::string joinPath(const std::string& first, const std::string& part);
template <typename... More>
std::string joinPath(const std::string& first, const std::string& part, const More&... more)
{
    return joinPath(joinPath(first, part), more...);
}

// Returns when the directory exists or was made; throws std::runtime_error otherwise.
void ensureDirectory(const std::string& path);

// The serial number as the store names it: eight upper-case hexadecimal digits.
std::string serialText(uint32_t serialNumber);

class UpdaterStore {
public:
    const std::string& root() const { return root_; }

    bool FindDevice(uint32_t serialNumber, StoreItem* record);
    void FindDevice(uint32_t serialNumber, std::vector<StoreItem>& items);
    // Throws as ensureDirectory does.
    StoreItem CreateDevice(uint32_t serialNumber);
    // Throws std::runtime_error("Invalid kite " + path), or the loader's own error.
    KiteFile openKite(const StoreItem& record, const std::string& fileName);
    aErr writeFile(const StoreItem& record, const std::string& fileName, const uint8_t* bytes,
                   size_t length);

private:
    explicit UpdaterStore(std::string root);
    friend std::unique_ptr<UpdaterStore> openStore(UpdaterDisplayInterface&, const std::string&,
                                                   const char*);
    std::string root_;
};

// None after reporting why the root cannot be had.
std::unique_ptr<UpdaterStore> openStore(UpdaterDisplayInterface& display, const std::string& root,
                                        const char* operation);
