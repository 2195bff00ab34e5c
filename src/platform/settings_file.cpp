#include "platform/settings_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

#include "convert/core/paths.h"
#include "convert/core/text.h"
#include "platform/file_io.h"
#include "platform/log.h"

namespace {

constexpr size_t kSettingsFileLimit = 1 << 20;  // a settings file is a few hundred bytes; refuse junk
constexpr int kMostLinkHops = 40;                 // the kernel's own limit on links in a row

std::string ReadSettingsText(const std::string& path) { return ReadSmallFile(path, kSettingsFileLimit).value_or(""); }

void MakeFolders(const std::string& folder) {
    if (folder.empty() || folder == "/" || folder == ".") return;
    struct stat info;
    if (::stat(folder.c_str(), &info) == 0) return;
    MakeFolders(FolderOf(folder));
    ::mkdir(folder.c_str(), 0700);
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
    return text;
}

// The name of a "Name=value" line (spaces around it dropped), or empty for other lines.
std::string_view LineName(std::string_view line) {
    size_t equals = line.find('=');
    return equals == line.npos ? std::string_view() : Trimmed(line.substr(0, equals));
}

// The value after the "=" of a line that has a name, spaces around it dropped.
std::string_view LineValue(std::string_view line) { return Trimmed(line.substr(line.find('=') + 1)); }

// Where a write must go: through symbolic links to the file they name, so that a settings
// file kept elsewhere (a dotfiles folder) stays where it is and the link stays a link.
std::string WritePlace(std::string path) {
    for (int hop = 0; hop < kMostLinkHops; ++hop) {
        char target[PATH_MAX];
        ssize_t length = ::readlink(path.c_str(), target, sizeof target);
        if (length <= 0 || static_cast<size_t>(length) >= sizeof target) return path;  // no link (or none we can follow)
        std::string next(target, static_cast<size_t>(length));
        path = next.front() == '/' ? next : JoinPath(FolderOf(path), next);
    }
    return path;
}

void LogFailedWrite(const std::string& path, int error) {
    LogWarning("Couldn't save the settings in " + path + ": " + std::strerror(error));
}

}  // namespace

SettingsFile::Values SettingsFile::ReadAll() const { return Parse(ReadSettingsText(path_)); }

SettingsFile::Values SettingsFile::Parse(std::string_view text) {
    Values values;
    for (const std::string& raw : Split<char>(text, '\n')) {
        std::string_view line(raw);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        std::string_view name = LineName(line);
        if (!name.empty()) values.insert_or_assign(std::string(name), std::string(LineValue(line)));
    }
    return values;
}

void SettingsFile::Update(const Changes& changes) const {
    MakeFolders(FolderOf(path_));
    UniqueFd lock(::open((path_ + ".lock").c_str(), O_RDWR | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0600));
    if (!lock.valid()) {
        LogFailedWrite(path_, errno);
        return;
    }
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

    std::string place = WritePlace(path_);
    if (!ReplaceFile(place, updated, 0600)) LogFailedWrite(place, errno);
}  // closing the lock's descriptor releases it

void SettingsFile::RemoveAll() const {
    ::unlink(path_.c_str());
    ::unlink((path_ + ".lock").c_str());
    ::rmdir(FolderOf(path_).c_str());  // only succeeds when nothing else lives there
}
