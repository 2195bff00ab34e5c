#include "platform/settings_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "convert/core/paths.h"
#include "convert/core/text.h"
#include "platform/file_io.h"

namespace {

constexpr size_t kSettingsFileLimit = 1 << 20;  // a settings file is a few hundred bytes; refuse junk

std::string ReadSettingsText(const std::string& path) { return ReadSmallFile(path, kSettingsFileLimit).value_or(""); }

void MakeFolders(const std::string& folder) {
    if (folder.empty() || folder == "/" || folder == ".") return;
    struct stat info;
    if (::stat(folder.c_str(), &info) == 0) return;
    MakeFolders(FolderOf(folder));
    ::mkdir(folder.c_str(), 0700);
}

// The name of a "Name=value" line, or empty for other lines.
std::string_view LineName(std::string_view line) {
    size_t equals = line.find('=');
    return equals == line.npos ? std::string_view() : line.substr(0, equals);
}

}  // namespace

SettingsFile::Values SettingsFile::ReadAll() const {
    Values values;
    for (const std::string& raw : Split<char>(ReadSettingsText(path_), '\n')) {
        std::string_view line(raw);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        std::string_view name = LineName(line);
        if (!name.empty()) values.insert_or_assign(std::string(name), std::string(line.substr(name.size() + 1)));
    }
    return values;
}

void SettingsFile::Update(const Changes& changes) const {
    MakeFolders(FolderOf(path_));
    UniqueFd lock(::open((path_ + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!lock.valid()) return;
    while (::flock(lock.get(), LOCK_EX) != 0 && errno == EINTR) {
    }

    // Lines keep their order; a changed value replaces its first line, later copies go.
    std::vector<bool> written(changes.size(), false);
    std::string updated;
    for (const std::string& raw : Split<char>(ReadSettingsText(path_), '\n')) {
        std::string_view line(raw);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        std::string_view name = LineName(line);
        size_t change = 0;
        while (change < changes.size() && changes[change].first != name) ++change;
        if (change == changes.size()) {
            updated.append(line).append("\n");
        } else if (!written[change]) {
            written[change] = true;
            if (changes[change].second) updated.append(name).append("=").append(*changes[change].second).append("\n");
        }
    }
    for (size_t change = 0; change < changes.size(); ++change)
        if (!written[change] && changes[change].second)
            updated.append(changes[change].first).append("=").append(*changes[change].second).append("\n");

    ReplaceFile(path_, updated, 0600);
}  // closing the lock's descriptor releases it

void SettingsFile::RemoveAll() const {
    ::unlink(path_.c_str());
    ::unlink((path_ + ".lock").c_str());
    ::rmdir(FolderOf(path_).c_str());  // only succeeds when nothing else lives there
}
