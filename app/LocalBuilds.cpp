#include "LocalBuilds.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <tuple>

#include "Store.h"

namespace {

constexpr size_t kInsertionSortLimit = 32;

// The integer at the start of the piece, as the standard text-to-int conversion reads it;
// the failure text when there is none or it does not fit.
const char* toInt(const std::string& piece, int& value)
{
    const char* start = piece.c_str();
    while (std::isspace(static_cast<unsigned char>(*start)))
        ++start;
    const char* digits = start + (*start == '+' || *start == '-' ? 1 : 0);
    if (!std::isdigit(static_cast<unsigned char>(*digits)))
        return "invalid stoi argument";
    errno = 0;
    const long number = std::strtol(start, nullptr, 10);
    if (errno == ERANGE || number > INT_MAX || number < INT_MIN)
        return "stoi argument out of range";
    value = static_cast<int>(number);
    return nullptr;
}

// Major, minor and patch, each taken modulo 256; false after logging the failed conversion.
bool versionNumbers(const std::vector<std::string>& parts, int (&numbers)[3])
{
    for (int i = 2; i >= 0; --i) {
        if (const char* failure = toInt(parts[static_cast<size_t>(i)], numbers[i])) {
            debugPrintf(DEBUG_ServerComm, "%s: Exception converting version: %s\n", "_sortVersion", failure);
            return false;
        }
        numbers[i] &= 0xFF;
    }
    return true;
}

// Each entry moves towards the front past the predecessors it goes before, never past the
// first; the bound matters because the comparison is not a strict weak order.
void insertionSort(std::vector<BuildEntry>& entries, size_t first, size_t last)
{
    for (size_t i = first + 1; i < last; ++i) {
        BuildEntry moving = std::move(entries[i]);
        size_t hole = i;
        if (_sortVersion(moving, entries[first])) {
            for (; hole > first; --hole)
                entries[hole] = std::move(entries[hole - 1]);
        } else {
            while (hole - 1 > first && _sortVersion(moving, entries[hole - 1])) {
                entries[hole] = std::move(entries[hole - 1]);
                --hole;
            }
        }
        entries[hole] = std::move(moving);
    }
}

// Moves the entries that go before the middle entry in front of it; returns its new place.
// Every index stays inside [first, last) whatever the comparison answers.
size_t partition(std::vector<BuildEntry>& entries, size_t first, size_t last)
{
    std::swap(entries[first + (last - first) / 2], entries[last - 1]);
    size_t store = first;
    for (size_t i = first; i + 1 < last; ++i)
        if (_sortVersion(entries[i], entries[last - 1]))
            std::swap(entries[i], entries[store++]);
    std::swap(entries[store], entries[last - 1]);
    return store;
}

void sortRange(std::vector<BuildEntry>& entries, size_t first, size_t last)
{
    while (last - first > kInsertionSortLimit) {
        const size_t pivot = partition(entries, first, last);
        // The smaller side recursively, the larger one in this loop: the depth stays logarithmic.
        if (pivot - first < last - pivot - 1) {
            sortRange(entries, first, pivot);
            first = pivot + 1;
        } else {
            sortRange(entries, pivot + 1, last);
            last = pivot;
        }
    }
    if (last - first > 1)
        insertionSort(entries, first, last);
}

std::string buildText(const std::string& name)
{
    return name.substr(0, name.find(".kite"));
}

std::string imageVersion(const StoreItem& item)
{
    if (item.directory.empty() || item.name.empty())
        return {};
    const std::string path = item.directory + "/" + item.name;
    std::string version;
    if (isKiteFile(path.c_str())) {
        KiteFile kite;
        try {
            kite = KiteFile(path);
            version = kite.version();
        } catch (const std::runtime_error&) {
            version.clear();
        }
    }
    if (version.empty())
        debugPrintf(DEBUG_Updater, "Could NOT file VERSION in kitefile: %s\n", path.c_str());
    else
        debugPrintf(DEBUG_Updater, "Found VERSION in kitefile: %s - Version: \n", path.c_str());
    return version;
}

}  // namespace

std::vector<std::string> splitVersion(const std::string& text)
{
    std::vector<std::string> pieces;
    size_t start = 0;
    for (size_t dot; (dot = text.find('.', start)) != std::string::npos; start = dot + 1)
        pieces.push_back(text.substr(start, dot - start));
    pieces.push_back(text.substr(start));
    if (pieces.size() != 3)
        pieces.clear();
    return pieces;
}

bool _sortVersion(const BuildEntry& a, const BuildEntry& b)
{
    const std::vector<std::string> first = splitVersion(a.second);
    const std::vector<std::string> second = splitVersion(b.second);
    if (first.empty() && second.empty())
        return false;
    if (first.empty() || second.empty()) {
        debugPrintf(DEBUG_ServerComm, "%s: Exception converting version: %s\n", "_sortVersion",
                    "invalid vector subscript");
        return false;
    }
    int older[3] = {}, newer[3] = {};
    if (!versionNumbers(first, older) || !versionNumbers(second, newer))
        return false;
    return std::tie(newer[0], newer[1], newer[2]) < std::tie(older[0], older[1], older[2]);
}

void sortBuildEntries(std::vector<BuildEntry>& entries)
{
    sortRange(entries, 0, entries.size());
}

BuildList UpdaterApp::Get_BuildListLocal(uint32_t serialNumber)
{
    BuildList builds;
    std::unique_ptr<UpdaterStore> store = openStore(display(), storePath(), "Get_BuildListLocal");
    if (!store)
        return builds;
    std::vector<StoreItem> items;
    store->FindDevice(serialNumber, items);
    for (const StoreItem& item : items)
        builds.emplace(buildText(item.name), imageVersion(item));  // the first of a build stays
    return builds;
}

void PrintBuildList(UpdaterDisplayInterface& display, const BuildList& builds, uint32_t serialNumber)
{
    if (builds.empty()) {
        displayPrintf(display, 0, "No builds found for device [%08X]", serialNumber);
        return;
    }
    displayPrintf(display, 0, "Build List for device [%08X]:\n", serialNumber);
    displayPrintf(display, 0, "%-15.15s\t%-15.15s", "Build", "Version");
    std::vector<BuildEntry> entries(builds.begin(), builds.end());
    sortBuildEntries(entries);
    for (const BuildEntry& entry : entries)
        displayPrintf(display, 0, "%-15.15s\t%-15.15s", entry.first.c_str(), entry.second.c_str());
}
