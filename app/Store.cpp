#include "Store.h"

#include <cstdio>
#include <stdexcept>
#include <sys/stat.h>

#include "AtomicWrite.h"
#include "aDirectory.h"

namespace {

constexpr unsigned int kDirectoryMode = 0755;

// The full path of a listed entry, split at its last separator.
void splitEntryPath(const std::string& full, std::string& directory, std::string& name)
{
    const size_t slash = full.rfind(aDIRECTORY_SEPARATOR);
    directory = slash == std::string::npos ? std::string() : full.substr(0, slash);
    name = slash == std::string::npos ? full : full.substr(slash + 1);
}

StoreItem itemFor(const aDirectoryEntry& entry)
{
    StoreItem item;
    splitEntryPath(entry.path, item.directory, item.name);
    item.isDirectory = entry.isDirectory;
    item.attributes.load(joinPath(item.directory, item.name, ".settings"));
    return item;
}

struct FindContext {
    std::string wanted;
    StoreItem* record = nullptr;
    bool found = false;
};

bool findItem(const aDirectoryEntry* entry, void* context)
{
    auto& find = *static_cast<FindContext*>(context);
    debugPrintf(DEBUG_Updater, "%s([%s], %d, %d) searching for %s\n", "_find_item", entry->path,
                entry->isDirectory ? 1 : 0, static_cast<int>(entry->size), find.wanted.c_str());
    std::string directory, name;
    splitEntryPath(entry->path, directory, name);
    if (name == "." || name == ".." || name.find(find.wanted) == std::string::npos)
        return true;
    find.found = true;
    if (find.record)
        *find.record = itemFor(*entry);
    return false;
}

bool findItems(const aDirectoryEntry* entry, void* context)
{
    debugPrintf(DEBUG_Updater, "%s([%s], %d, %d)\n", "_find_items", entry->path,
                entry->isDirectory ? 1 : 0, static_cast<int>(entry->size));
    std::string directory, name;
    splitEntryPath(entry->path, directory, name);
    if (!name.empty() && name[0] != '.')
        static_cast<std::vector<StoreItem>*>(context)->push_back(itemFor(*entry));
    return true;
}

}  // namespace

std::string joinPath(const std::string& first, const std::string& part)
{
    return first + aDIRECTORY_SEPARATOR + part;
}

std::string serialText(uint32_t serialNumber)
{
    char text[9];
    std::snprintf(text, sizeof text, "%08X", serialNumber);
    return text;
}

void ensureDirectory(const std::string& path)
{
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        const aErr error = aDirectory_Ensure(path.c_str(), kDirectoryMode);
        if (error != aErrNone)
            throw std::runtime_error("UpdaterStore: Could not create directory " + path + " error " +
                                     std::to_string(error));
        debugPrintf(DEBUG_Updater, "UpdaterStore: Created directory [%s].\n", path.c_str());
        return;
    }
    if (!S_ISDIR(status.st_mode))
        throw std::runtime_error("UpdaterStore: " + path + " exists and is a file");
    debugPrintf(DEBUG_Updater, "UpdaterStore: [%s] already exists.\n", path.c_str());
}

UpdaterStore::UpdaterStore(std::string root) : root_(std::move(root))
{
    ensureDirectory(root_);
}

std::unique_ptr<UpdaterStore> openStore(UpdaterDisplayInterface& display, const std::string& root,
                                        const char* operation)
{
    try {
        return std::unique_ptr<UpdaterStore>(new UpdaterStore(root));
    } catch (const std::runtime_error& failure) {
        displayPrintf(display, 1, "Failed to Create UpdaterStore in: %s - Exception: %s", operation,
                      failure.what());
        return nullptr;
    }
}

bool UpdaterStore::FindDevice(uint32_t serialNumber, StoreItem* record)
{
    FindContext find;
    find.wanted = serialText(serialNumber);
    find.record = record;
    aDirectory_List(root_.c_str(), findItem, &find);
    debugPrintf(DEBUG_Updater, "UpdaterStore: FindDevice %s %s.\n", find.found ? "Found" : "Not Found",
                find.wanted.c_str());
    return find.found;
}

void UpdaterStore::FindDevice(uint32_t serialNumber, std::vector<StoreItem>& items)
{
    StoreItem record;
    if (FindDevice(serialNumber, &record))
        aDirectory_List(joinPath(record.directory, record.name).c_str(), findItems, &items);
}

StoreItem UpdaterStore::CreateDevice(uint32_t serialNumber)
{
    const std::string name = serialText(serialNumber);
    ensureDirectory(joinPath(root_, name));
    StoreItem record;
    record.directory = root_;
    record.name = name;
    record.isDirectory = true;
    record.attributes.load(joinPath(root_, name, ".settings"));
    return record;
}

KiteFile UpdaterStore::openKite(const StoreItem& record, const std::string& fileName)
{
    const std::string path = joinPath(record.directory, record.name, fileName);
    if (!isKiteFile(path.c_str()))
        throw std::runtime_error("Invalid kite " + path);
    return KiteFile(path);
}

aErr UpdaterStore::writeFile(const StoreItem& record, const std::string& fileName, const uint8_t* bytes,
                             size_t length)
{
    if (bytes == nullptr || length == 0)
        return aErrNotFound;
    return replaceFile(joinPath(record.directory, record.name, fileName).c_str(), bytes, length);
}
