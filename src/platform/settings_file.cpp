#include "platform/settings_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "convert/core/paths.h"
#include "convert/core/text.h"

namespace {

constexpr size_t kSettingsFileLimit = 1 << 20;  // a settings file is a few hundred bytes; refuse junk

std::string ReadSmallFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    std::string text;
    char chunk[4096];
    for (;;) {
        ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        text.append(chunk, static_cast<size_t>(got));
        if (text.size() > kSettingsFileLimit) {
            text.clear();
            break;
        }
    }
    ::close(fd);
    return text;
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t wrote = ::write(fd, bytes.data(), bytes.size());
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(wrote));
    }
    return true;
}

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
    std::string text = ReadSmallFile(path_);
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
    std::string text = ReadSmallFile(path_);
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

    std::string temporary = path_ + ".tmp" + std::to_string(::getpid());
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd >= 0) {
        bool written = WriteAll(fd, updated) && ::fsync(fd) == 0;
        written = ::close(fd) == 0 && written;
        if (!written || ::rename(temporary.c_str(), path_.c_str()) != 0) ::unlink(temporary.c_str());
    }
    ::flock(lock, LOCK_UN);
    ::close(lock);
}

void SettingsFile::RemoveAll() const {
    ::unlink(path_.c_str());
    ::unlink((path_ + ".lock").c_str());
    ::rmdir(FolderOf(path_).c_str());  // only succeeds when nothing else lives there
}
