// A module's attributes file: key=value lines kept in byte order of the keys.
#pragma once

#include <map>
#include <string>

class Attributes {
public:
    Attributes() = default;
    explicit Attributes(const std::string& path) { load(path); }

    // Adds the file's entries to those held; a missing file is created.
    void load(const std::string& path);
    // Adds the file's entries without ever writing; false when the file cannot be read.
    bool loadExisting(const std::string& path);
    // An empty path writes to the path held (".settings" when none).
    void save(const std::string& path = std::string());

    void setText(const std::string& key, const std::string& value);
    void setText(const char* key, const char* value) { setText(std::string(key), std::string(value)); }
    // Adds a missing key with an empty value, without marking a change.
    int getNumber(const std::string& key, int defaultValue);
    std::string getText(const std::string& key, const std::string& defaultValue = std::string()) const;

    const std::string& path() const { return path_; }
    const std::map<std::string, std::string>& values() const { return values_; }
    bool changed() const { return changed_; }

    // The current local time as the 24-character calendar text.
    static std::string timeText();

private:
    std::string path_;
    std::map<std::string, std::string> values_;  // std::string orders bytes as unsigned
    bool changed_ = false;
};
