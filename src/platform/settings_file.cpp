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

std::optional<std::string> SettingsFile::Get(std::string_view name) const {
    std::string text = ReadSettingsText(path_);
    std::optional<std::string> found;
    for (const std::string& raw : Split<char>(text, '\n')) {
        std::string_view line(raw);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (LineName(line) == name) found = std::string(line.substr(name.size() + 1));
    }
    return found;
}

void SettingsFile::Set(std::string_view name, const std::optional<std::string>& value) const {
    MakeFolders(FolderOf(path_));
    std::string lockPath = path_ + ".lock";
    int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock < 0) return;
    while (::flock(lock, LOCK_EX) != 0 && errno == EINTR) {
    }

    std::string updated;
    bool replaced = false;
    std::string text = ReadSettingsText(path_);
    for (const std::string& raw : Split<char>(text, '\n')) {
        std::string_view line(raw);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        if (LineName(line) == name) {
            if (value && !replaced) updated.append(name).append("=").append(*value).append("\n");
            replaced = true;
            continue;
        }
        updated.append(line).append("\n");
    }
    if (value && !replaced) updated.append(name).append("=").append(*value).append("\n");

    ReplaceFile(path_, updated, 0600);
    ::flock(lock, LOCK_UN);
    ::close(lock);
}

void SettingsFile::RemoveAll() const {
    ::unlink(path_.c_str());
    ::unlink((path_ + ".lock").c_str());
    ::rmdir(FolderOf(path_).c_str());  // only succeeds when nothing else lives there
}
