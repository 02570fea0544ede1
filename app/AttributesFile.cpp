#include "AttributesFile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>

#include "AtomicWrite.h"
#include "UpdaterDisplay.h"
#include "aFile.h"

namespace {

constexpr size_t kLineBufferSize = 2048;
constexpr const char* kWhiteSpace = " \t\n\v\f\r";

std::string trimmed(const std::string& text)
{
    const size_t first = text.find_first_not_of(kWhiteSpace);
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(kWhiteSpace) - first + 1);
}

// Leading white space, an optional sign, digits; beyond the 32-bit range the nearest limit.
int leadingNumber(const std::string& text)
{
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

void readLines(aFile* file, std::map<std::string, std::string>& values)
{
    char buffer[kLineBufferSize];
    size_t length = 0;
    // An over-long line comes back as an overrun and ends the reading like an end of file.
    while (aFile_ReadLine(file, buffer, sizeof buffer, &length) == aErrNone) {
        if (length < 3 || buffer[0] == '#')
            continue;
        const std::string line(buffer, length);
        const size_t equals = line.find('=');
        const std::string key = trimmed(line.substr(0, equals));
        // A line without "=" holds a key only; it gets an empty value.
        values[key] = equals == std::string::npos ? std::string() : trimmed(line.substr(equals + 1));
    }
}

}  // namespace

std::string Attributes::timeText()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    char text[32] = {};
    if (localtime_r(&now, &local) == nullptr || asctime_r(&local, text) == nullptr)
        return {};
    std::string result(text);
    if (!result.empty() && result.back() == '\n')
        result.pop_back();
    return result;
}

void Attributes::load(const std::string& path)
{
    if (!loadExisting(path)) {
        setText("CREATED_TIME", timeText());
        save(path);
        changed_ = false;
    }
}

bool Attributes::loadExisting(const std::string& path)
{
    aFile* file = aFile_Open(path.c_str(), aFileModeReadOnly);
    if (file == nullptr) {
        debugPrintf(DEBUG_Attributes, "Attibutes: Error - cannot open attributes file: '%s' (%d)\n",
                    path.c_str(), errno);
        path_ = path;
        return false;
    }
    path_ = path;
    changed_ = false;
    readLines(file, values_);
    aFile_Close(&file);
    return true;
}

void Attributes::save(const std::string& path)
{
    if (!path.empty()) {
        path_ = path;
    } else if (path_.empty()) {
        path_ = ".settings";
        debugPrintf(DEBUG_Attributes, "Attibutes: no filename given for attributes, using default:[%s]\n",
                    ".settings");
    }
    if (changed_)
        setText("UPDATED_TIME", timeText());
    std::string text;
    for (const auto& [key, value] : values_)
        text += key + "=" + value + "\n";
    int osError = 0;
    if (replaceFile(path_.c_str(), text.data(), text.size(), &osError) != aErrNone) {
        debugPrintf(DEBUG_Attributes, "Attibutes: Error - cannot open attributes file for writting: '%s' (%d)\n",
                    path_.c_str(), osError);
        return;
    }
    changed_ = false;
}

void Attributes::setText(const std::string& key, const std::string& value)
{
    std::string& held = values_[key];
    if (held != value)
        changed_ = true;
    held = value;
}

int Attributes::getNumber(const std::string& key, int defaultValue)
{
    const std::string& value = values_[key];
    return value.empty() ? defaultValue : leadingNumber(value);
}

std::string Attributes::getText(const std::string& key, const std::string& defaultValue) const
{
    const auto found = values_.find(key);
    return found == values_.end() ? defaultValue : found->second;
}
