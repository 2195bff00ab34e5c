// A small "Name=value" settings file that several processes may read and write at
// once: every write rewrites it through a temporary file and rename, under an
// advisory lock, so writers lose nothing and readers never see half a file.
#pragma once

#include <optional>
#include <string>
#include <string_view>

class SettingsFile {
public:
    explicit SettingsFile(std::string path) : path_(std::move(path)) {}

    // The raw text of a value, or nothing when the file or the name is missing.
    std::optional<std::string> Get(std::string_view name) const;
    // Sets (or with nothing, removes) one value; failures are ignored.
    void Set(std::string_view name, const std::optional<std::string>& value) const;
    // Removes the file and its lock, and the folder when it is left empty.
    void RemoveAll() const;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};
