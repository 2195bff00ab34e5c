#include "convert/core/output_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <vector>

#include "convert/core/errors.h"
#include "convert/core/paths.h"
#include "platform/file_io.h"

namespace {

constexpr int kLastNumberedName = 9999;     // names go up to "(9999)"; past that the folder is hopeless
constexpr size_t kLongestName = 255;        // NAME_MAX of every common Linux file system
constexpr int kHiddenNameTries = 100;       // a hidden name is taken only by a process of another pid namespace
constexpr int kDeepestTemporary = 32;       // output folders are flat; a deeper tree is not ours
constexpr size_t kCopyChunk = size_t(1) << 20;  // the rare copy out of an unnamed temporary
constexpr int kCannotLinkUnnamed = -1;      // neither way of naming an O_TMPFILE works here

const char kCreateFailed[] = "Couldn't create the output file";
const char kWriteFailed[] = "Couldn't write the output file (disk full?)";
const char kFolderFailed[] = "Couldn't create the output folder";

// A hidden name that no other process picks: the pid and a per-process counter.
std::string HiddenName(std::string_view tail) {
    static std::atomic<unsigned> counter{0};
    std::string name(kTemporaryPrefix);
    name += std::to_string(::getpid());
    name += '-';
    name += std::to_string(counter.fetch_add(1));
    name += tail;
    return name;
}

// The longest file name the folder's file system takes, at most kLongestName.
size_t NameMaxOf(const std::string& folder) {
    long max = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    return max > 0 && static_cast<size_t>(max) < kLongestName ? static_cast<size_t>(max) : kLongestName;
}

// Tries the numbered names in order with `take`, which returns 0 on success or an errno.
// EEXIST moves on to the next number; any other error ends the attempt.
template <typename Take>
std::string TakeFirstFreeName(const std::string& folder, std::string_view stem, std::string_view tail, Take take,
                              const char* failure) {
    size_t nameMax = NameMaxOf(folder);
    for (int n = 1; n <= kLastNumberedName; ++n) {
        std::string name = NumberedName(stem, n, tail, nameMax);
        if (name.empty()) throw ConvertError(failure, HResultFromErrno(ENAMETOOLONG));
        std::string candidate = JoinPath(folder, name);
        int error = take(candidate);
        if (error == 0) return candidate;
        if (error != EEXIST) throw ConvertError(failure, HResultFromErrno(error > 0 ? error : EIO));
    }
    throw ConvertError("Too many files with this name in the folder");
}

// Links an unnamed temporary (O_TMPFILE) under `target`: 0, an errno, or kCannotLinkUnnamed.
// linkat with AT_EMPTY_PATH needs a capability most users lack; the descriptor's entry in
// /proc does the same for everyone where /proc is mounted.
int LinkUnnamed(int fd, const std::string& target) {
    static std::atomic<bool> emptyPathRefused{false};
    if (!emptyPathRefused.load()) {
        if (::linkat(fd, "", AT_FDCWD, target.c_str(), AT_EMPTY_PATH) == 0) return 0;
        if (errno != ENOENT && errno != EPERM && errno != EINVAL) return errno;
        emptyPathRefused.store(true);
    }
    std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
    int error = errno;
    if (error == ENOENT && ::access("/proc/self/fd", F_OK) != 0) return kCannotLinkUnnamed;
    return error;
}

// Moves a named temporary to `target` unless something holds that name. File systems
// without RENAME_NOREPLACE get a link, which never replaces either, and an unlink.
int MoveWithoutReplacing(const std::string& from, const std::string& target) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    if (::link(from.c_str(), target.c_str()) != 0) return errno;
    ::unlink(from.c_str());
    return 0;
}

// Creates a new hidden file in `folder` ending in `tail`; its descriptor, with the name in `path`.
int CreateHidden(const std::string& folder, std::string_view tail, std::string& path) {
    for (int attempt = 0; attempt < kHiddenNameTries; ++attempt) {
        path = JoinPath(folder, HiddenName(tail));
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            if (fd < 0) path.clear();
            return fd;
        }
    }
    path.clear();
    errno = EEXIST;
    return -1;
}

bool CopyAll(int from, int to) {
    std::vector<char> buffer(kCopyChunk);
    for (off_t offset = 0;;) {
        ssize_t got = ::pread(from, buffer.data(), buffer.size(), offset);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) return true;
        if (!WriteAll(to, std::string_view(buffer.data(), static_cast<size_t>(got)))) return false;
        offset += got;
    }
}

// Removes `name` under the open folder `parent`: a folder with everything in it, anything
// else (a symbolic link included) as an entry. Links are never followed.
void RemoveEntryAt(int parent, const char* name, int depth) {
    int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        ::unlinkat(parent, name, 0);
        return;
    }
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return;
    }
    std::vector<std::pair<std::string, bool>> children;  // name, maybe a folder
    while (dirent* entry = ::readdir(dir)) {
        std::string_view child = entry->d_name;
        if (child == "." || child == "..") continue;
        children.emplace_back(child, entry->d_type == DT_DIR || entry->d_type == DT_UNKNOWN);
    }
    for (const auto& [child, folder] : children) {
        if (folder && depth < kDeepestTemporary)
            RemoveEntryAt(::dirfd(dir), child.c_str(), depth + 1);
        else
            ::unlinkat(::dirfd(dir), child.c_str(), 0);
    }
    ::closedir(dir);
    ::unlinkat(parent, name, AT_REMOVEDIR);
}

void RemoveTree(const std::string& path) {
    std::string folder = FolderOf(path), name = FileNameOf(path);
    int parent = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parent < 0) return;
    RemoveEntryAt(parent, name.c_str(), 0);
    ::close(parent);
}

}  // namespace

std::string NumberedName(std::string_view stem, int n, std::string_view tail, size_t nameMax) {
    std::string number = n > 1 ? " (" + std::to_string(n) + ")" : std::string();
    if (number.size() + tail.size() > nameMax) return {};
    size_t room = nameMax - number.size() - tail.size();
    if (stem.size() > room) {
        // Back up to the first byte of a character, so no character is cut in half.
        size_t cut = room;
        while (cut > 0 && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80) --cut;
        stem = stem.substr(0, cut);
    }
    std::string name(stem);
    name += number;
    name += tail;
    return name;
}

OutputFile::OutputFile(std::string folder, std::string stem, std::string extension, OutputTexts texts)
    : folder_(std::move(folder)), stem_(std::move(stem)), extension_(std::move(extension)), texts_(texts) {
    fd_ = ::open(folder_.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (fd_ >= 0) return;
    // Not every file system has unnamed files (EOPNOTSUPP; EISDIR on old kernels): a hidden name
    // it is. Any other refusal (a missing or read-only folder) repeats itself there.
    fd_ = CreateHidden(folder_, "." + extension_, temporary_);
    if (fd_ < 0) throw ConvertError(texts_.create, HResultFromErrno(errno));
}

OutputFile::~OutputFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!published_ && !temporary_.empty()) ::unlink(temporary_.c_str());
}

void OutputFile::Write(std::string_view bytes) {
    if (fd_ < 0 || !WriteAll(fd_, bytes)) throw ConvertError(texts_.write);
}

const std::string& OutputFile::TemporaryPath() {
    if (temporary_.empty()) NameTemporary();
    return temporary_;
}

void OutputFile::NameTemporary() {
    std::string tail = "." + extension_, path;
    int error = EEXIST;
    for (int attempt = 0; attempt < kHiddenNameTries && error == EEXIST; ++attempt) {
        path = JoinPath(folder_, HiddenName(tail));
        error = LinkUnnamed(fd_, path);
    }
    if (error == kCannotLinkUnnamed) {
        // The unnamed file cannot get a name here: what it holds moves to a named one.
        int named = CreateHidden(folder_, tail, path);
        if (named < 0) throw ConvertError(texts_.create, HResultFromErrno(errno));
        bool copied = CopyAll(fd_, named);
        ::close(fd_);
        fd_ = named;
        temporary_ = std::move(path);
        if (!copied) throw ConvertError(texts_.write);
        return;
    }
    if (error != 0) throw ConvertError(texts_.create, HResultFromErrno(error));
    temporary_ = std::move(path);
}

std::string OutputFile::Publish() {
    if (published_ || fd_ < 0) throw ConvertError(texts_.create);
    std::string tail = "." + extension_;
    if (temporary_.empty()) {
        // Unnamed: linked under the final name, then closed. A close that reports a delayed
        // write failure takes the name away again.
        bool unlinkable = false;
        std::string final = TakeFirstFreeName(
            folder_, stem_, tail,
            [&](const std::string& candidate) {
                int error = LinkUnnamed(fd_, candidate);
                unlinkable = error == kCannotLinkUnnamed;
                return unlinkable ? 0 : error;
            },
            texts_.create);
        if (!unlinkable) {
            int closed = ::close(fd_);
            fd_ = -1;
            if (closed != 0) {
                ::unlink(final.c_str());
                throw ConvertError(texts_.write);
            }
            published_ = true;
            return final;
        }
        NameTemporary();
    }
    int closed = ::close(fd_);
    fd_ = -1;
    if (closed != 0) throw ConvertError(texts_.write);
    std::string final = TakeFirstFreeName(
        folder_, stem_, tail, [&](const std::string& c) { return MoveWithoutReplacing(temporary_, c); }, texts_.create);
    published_ = true;
    return final;
}

std::string PublishOutput(std::string_view folder, std::string_view stem, std::string_view extension,
                          std::string_view bytes, OutputTexts texts) {
    OutputFile file{std::string(folder), std::string(stem), std::string(extension), texts};
    file.Write(bytes);
    return file.Publish();
}

OutputFolder::OutputFolder(std::string parent, std::string name) : parent_(std::move(parent)), name_(std::move(name)) {
    int error = EEXIST;
    for (int attempt = 0; attempt < kHiddenNameTries && error == EEXIST; ++attempt) {
        temporary_ = JoinPath(parent_, HiddenName(".d"));
        error = ::mkdir(temporary_.c_str(), 0777) == 0 ? 0 : errno;
    }
    if (error != 0) {
        temporary_.clear();
        throw ConvertError(kFolderFailed, HResultFromErrno(error));
    }
}

OutputFolder::~OutputFolder() {
    if (!published_ && !temporary_.empty()) RemoveTree(temporary_);
}

void OutputFolder::WriteFile(std::string_view name, std::string_view bytes) {
    int error = 0;
    switch (WriteNewFile(JoinPath(temporary_, name), bytes, error)) {
    case NewFileResult::kWritten: return;
    case NewFileResult::kCreateFailed: throw ConvertError(kCreateFailed, HResultFromErrno(error));
    case NewFileResult::kWriteFailed: throw ConvertError(kWriteFailed);
    }
}

std::string OutputFolder::Publish() {
    std::string final = TakeFirstFreeName(
        parent_, name_, "",
        [&](const std::string& candidate) {
            if (::renameat2(AT_FDCWD, temporary_.c_str(), AT_FDCWD, candidate.c_str(), RENAME_NOREPLACE) == 0) return 0;
            if (errno != EINVAL && errno != ENOSYS) return errno;
            // Without RENAME_NOREPLACE: hold the name with an empty folder of our own, which a
            // plain rename then replaces (it never replaces a folder that has contents).
            if (::mkdir(candidate.c_str(), 0777) != 0) return errno;
            if (::rename(temporary_.c_str(), candidate.c_str()) == 0) return 0;
            int error = errno;
            ::rmdir(candidate.c_str());
            return error == EEXIST || error == ENOTEMPTY ? EIO : error;
        },
        kFolderFailed);
    published_ = true;
    return final;
}

size_t RemoveTemporariesOf(const std::string& folder, pid_t pid) {
    std::string prefix = std::string(kTemporaryPrefix) + std::to_string(pid) + "-";
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return 0;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return 0;
    }
    std::vector<std::string> found;
    while (dirent* entry = ::readdir(dir))
        if (std::string_view(entry->d_name).starts_with(prefix)) found.emplace_back(entry->d_name);
    for (const std::string& name : found) RemoveEntryAt(::dirfd(dir), name.c_str(), 0);
    ::closedir(dir);
    return found.size();
}
