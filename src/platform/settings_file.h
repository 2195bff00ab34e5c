// A small "Name=value" settings file that several processes may read and write at
// once: every write rewrites it through a temporary file and rename, under an
// advisory lock, so writers lose nothing and readers never see half a file.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class SettingsFile {
public:
    explicit SettingsFile(std::string path) : path_(std::move(path)) {}

    using Values = std::map<std::string, std::string, std::less<>>;
    using Changes = std::vector<std::pair<std::string, std::optional<std::string>>>;

    // Every value, read in one go; empty when the file is missing or is no regular file.
    Values ReadAll() const;
    // The values of a settings text: "Name=value" lines, spaces around either dropped; a
    // later line of the same name wins; other lines are ignored.
    static Values Parse(std::string_view text);
    // Sets (or, with nothing, removes) values in one rewrite of the file; failures are ignored.
    void Update(const Changes& changes) const;
    // Removes the file and its lock, and the folder when it is left empty.
    void RemoveAll() const;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};
