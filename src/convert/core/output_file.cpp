#include "convert/core/output_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

#include "convert/core/errors.h"
#include "convert/core/paths.h"
#include "platform/file_io.h"

namespace {

constexpr int kLastNumberedName = 9999;  // names go up to "(9999)"; past that the folder is hopeless

// A hidden name that no other process picks: the pid and a per-process counter.
std::string HiddenName(std::string_view kind) {
    static std::atomic<unsigned> counter{0};
    std::string name(kTemporaryPrefix);
    name += std::to_string(::getpid());
    name += '-';
    name += std::to_string(counter.fetch_add(1));
    name += kind;
    return name;
}

std::string Candidate(std::string_view folder, std::string_view stem, int n, std::string_view tail) {
    std::string name(stem);
    if (n > 1) name += " (" + std::to_string(n) + ")";
    name += tail;
    return JoinPath(folder, name);
}

// Tries the numbered names in order with `take`, which returns 0 on success or an errno.
// EEXIST moves on to the next number; any other error ends the attempt.
template <typename Take>
std::string TakeFirstFreeName(std::string_view folder, std::string_view stem, std::string_view tail, Take take,
                              const char* failure) {
    for (int n = 1; n <= kLastNumberedName; ++n) {
        std::string candidate = Candidate(folder, stem, n, tail);
        int error = take(candidate);
        if (error == 0) return candidate;
        if (error != EEXIST) throw ConvertError(failure, HResultFromErrno(error));
    }
    throw ConvertError("Too many files with this name in the folder");
}

void RemoveTree(const std::string& path) {
    if (DIR* dir = ::opendir(path.c_str())) {
        while (dirent* entry = ::readdir(dir)) {
            std::string_view name = entry->d_name;
            if (name == "." || name == "..") continue;
            std::string child = JoinPath(path, name);
            struct stat info;
            if (::lstat(child.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
                RemoveTree(child);
            } else {
                ::unlink(child.c_str());
            }
        }
        ::closedir(dir);
    }
    ::rmdir(path.c_str());
}

}  // namespace

OutputFile::OutputFile(std::string folder, std::string stem, std::string extension)
    : folder_(std::move(folder)), stem_(std::move(stem)), extension_(std::move(extension)) {
    temporary_ = JoinPath(folder_, HiddenName(".tmp"));
    fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ < 0) throw ConvertError("Couldn't create the output file", HResultFromErrno(errno));
}

OutputFile::~OutputFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!published_ && !temporary_.empty()) ::unlink(temporary_.c_str());
}

void OutputFile::Write(std::string_view bytes) {
    if (!WriteAll(fd_, bytes)) throw ConvertError("Couldn't write the output file (disk full?)");
}

const std::string& OutputFile::TemporaryPath() { return temporary_; }

std::string OutputFile::Publish() {
    int closed = ::close(fd_);
    fd_ = -1;
    if (closed != 0) throw ConvertError("Couldn't write the output file (disk full?)");
    std::string final = TakeFirstFreeName(
        folder_, stem_, "." + extension_,
        [&](const std::string& candidate) { return ::link(temporary_.c_str(), candidate.c_str()) == 0 ? 0 : errno; },
        "Couldn't create the output file");
    ::unlink(temporary_.c_str());
    published_ = true;
    return final;
}

std::string PublishOutput(std::string_view folder, std::string_view stem, std::string_view extension,
                          std::string_view bytes) {
    OutputFile file{std::string(folder), std::string(stem), std::string(extension)};
    file.Write(bytes);
    return file.Publish();
}

OutputFolder::OutputFolder(std::string parent, std::string name) : parent_(std::move(parent)), name_(std::move(name)) {
    temporary_ = JoinPath(parent_, HiddenName(".d"));
    if (::mkdir(temporary_.c_str(), 0777) != 0) {
        int error = errno;
        temporary_.clear();
        throw ConvertError("Couldn't create the output folder", HResultFromErrno(error));
    }
}

OutputFolder::~OutputFolder() {
    if (!published_ && !temporary_.empty()) RemoveTree(temporary_);
}

std::string OutputFolder::Publish() {
    std::string final = TakeFirstFreeName(
        parent_, name_, "",
        [&](const std::string& candidate) {
            return ::renameat2(AT_FDCWD, temporary_.c_str(), AT_FDCWD, candidate.c_str(), RENAME_NOREPLACE) == 0
                       ? 0
                       : errno;
        },
        "Couldn't create the output folder");
    published_ = true;
    return final;
}
