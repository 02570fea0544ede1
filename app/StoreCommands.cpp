#include "StoreCommands.h"

#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "AttributesFile.h"
#include "KiteImage.h"
#include "Store.h"
#include "aDirectory.h"

namespace {

// Descriptor bytes as text; bytes that would garble a terminal show as ".".
std::string printable(const std::string& field)
{
    std::string text = field;
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F)
            c = '.';
    return text;
}

void printSummary(UpdaterDisplayInterface& display, const KiteFile& kite)
{
    displayPrintf(display, 0, "Kite file: %s", kite.path().c_str());
    displayPrintf(display, 0, "Header word: 0x%04X", kite.headerWord());
    displayPrintf(display, 0, "Blocks declared: %u", kite.declaredBlockCount());
    displayPrintf(display, 0, "Blocks parsed: %u", kite.blockCount());
    unsigned index = 0;
    for (const KiteBlock& block : kite.blocks())
        displayPrintf(display, 0, "Block %u: type %u flags %u length %u address 0x%08X", index++,
                      unsigned{block.type}, unsigned{block.flags}, block.length, block.address);
    if (kite.hasOffsets())
        displayPrintf(display, 0, "Offsets: serial number 0x%08X, descriptor 0x%08X", kite.serialAddress(),
                      kite.descriptorAddress());
    else
        displayPrintf(display, 0, "Offsets: none");
    if (kite.blocksOfType(KITE_BlockDescriptor).empty()) {
        displayPrintf(display, 0, "Descriptor: none");
    } else {
        displayPrintf(display, 0, "Descriptor: [%s] [%s] [%s] [%s]", printable(kite.descriptorField(0)).c_str(),
                      printable(kite.descriptorField(1)).c_str(), printable(kite.descriptorField(2)).c_str(),
                      printable(kite.descriptorField(3)).c_str());
    }
    displayPrintf(display, 0, "Checksum: 0x%08X", kite.checksum());
    if (kite.parseRemainder() != 0)
        displayPrintf(display, 0, "Mismatch: %lld bytes remaining", kite.parseRemainder());
    if (kite.blockCount() != kite.declaredBlockCount())
        displayPrintf(display, 0, "Mismatch: %u blocks parsed, %u declared", kite.blockCount(),
                      kite.declaredBlockCount());
}

struct ListedEntry {
    std::string path;
    bool isDirectory;
};

bool collectEntry(const aDirectoryEntry* entry, void* context)
{
    static_cast<std::vector<ListedEntry>*>(context)->push_back({entry->path, entry->isDirectory});
    return true;
}

std::vector<ListedEntry> listDirectory(const std::string& path)
{
    std::vector<ListedEntry> entries;
    aDirectory_List(path.c_str(), collectEntry, &entries);
    return entries;
}

std::string nameOf(const std::string& path)
{
    return path.substr(path.rfind('/') + 1);
}

int showModule(UpdaterDisplayInterface& display, const std::string& root, uint32_t serialNumber)
{
    const std::string directory = joinPath(root, serialText(serialNumber));
    struct stat status {};
    if (::stat(directory.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        // Like an empty build list: nothing recorded yet is an answer, not a failure.
        displayPrintf(display, 0, "No record of device [%08X] in %s", serialNumber, root.c_str());
        return 0;
    }
    displayPrintf(display, 0, "Device [%08X]", serialNumber);
    displayPrintf(display, 0, "Directory: %s", directory.c_str());
    Attributes attributes;
    if (attributes.loadExisting(joinPath(directory, ".settings"))) {
        displayPrintf(display, 0, "Attributes:");
        for (const auto& [key, value] : attributes.values())
            displayPrintf(display, 0, "    %s=%s", key.c_str(), value.c_str());
    } else {
        displayPrintf(display, 0, "Attributes: none");
    }
    displayPrintf(display, 0, "Images:");
    for (const ListedEntry& entry : listDirectory(directory)) {
        const std::string name = nameOf(entry.path);
        if (entry.isDirectory || name.empty() || name[0] == '.')
            continue;
        std::string version = "(not a kite image)";
        if (isKiteFile(entry.path.c_str())) {
            try {
                version = KiteFile(entry.path).version();
            } catch (const std::runtime_error&) {
                version = "(does not load)";
            }
        }
        displayPrintf(display, 0, "    %-15.15s\t%s", name.c_str(), version.c_str());
    }
    return 0;
}

int showAllModules(UpdaterDisplayInterface& display, const std::string& root)
{
    std::vector<ListedEntry> modules;
    for (const ListedEntry& entry : listDirectory(root))
        if (entry.isDirectory && nameOf(entry.path)[0] != '.')
            modules.push_back(entry);
    if (modules.empty()) {
        displayPrintf(display, 0, "No devices recorded in %s", root.c_str());
        return 0;
    }
    displayPrintf(display, 0, "Devices recorded in %s:", root.c_str());
    displayPrintf(display, 0, "%-15.15s\t%-15.15s\t%-15.15s", "Device", "Latest download", "Latest transfer");
    for (const ListedEntry& module : modules) {
        Attributes attributes;
        attributes.loadExisting(joinPath(module.path, ".settings"));
        displayPrintf(display, 0, "%-15.15s\t%-15.15s\t%-15.15s", nameOf(module.path).c_str(),
                      attributes.getText("LATEST_DOWNLOAD").c_str(), attributes.getText("LATEST_TRANSFER").c_str());
    }
    return 0;
}

}  // namespace

int CheckKiteFile(UpdaterDisplayInterface& display, const std::string& path)
{
    if (!isKiteFile(path.c_str())) {
        displayPrintf(display, 1, "Not a kite file: %s", path.c_str());
        return 1;
    }
    KiteFile kite;
    try {
        kite = KiteFile(path);
    } catch (const std::runtime_error&) {
        displayPrintf(display, 1, "Could not load kite file: %s", path.c_str());
        return 1;
    }
    printSummary(display, kite);
    if (!kite.parsedCleanly()) {
        displayPrintf(display, 1, "Kite file %s has a block parsing mismatch", path.c_str());
        return 1;
    }
    return 0;
}

int ShowStoreInfo(UpdaterDisplayInterface& display, const std::string& storeRoot, uint32_t serialNumber)
{
    return serialNumber != 0 ? showModule(display, storeRoot, serialNumber) : showAllModules(display, storeRoot);
}
