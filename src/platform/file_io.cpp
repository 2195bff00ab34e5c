#include "platform/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

bool UniqueFd::Reset() {
    if (fd_ < 0) return true;
    bool closed = ::close(fd_) == 0;
    fd_ = -1;
    return closed;
}

bool ReadExactly(int fd, size_t size, std::string& out) {
    out.resize(size);
    size_t done = 0;
    while (done < size) {
        ssize_t got = ::read(fd, out.data() + done, size - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) break;
        done += static_cast<size_t>(got);
    }
    out.resize(done);
    return true;
}

std::optional<std::string> ReadSmallFile(const std::string& path, size_t limit) {
    // Without blocking: a FIFO at that name would otherwise wait for a writer forever.
    UniqueFd file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!file.valid()) return std::nullopt;
    struct stat info;
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    std::string text;
    char chunk[4096];
    for (;;) {
        ssize_t got = ::read(file.get(), chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return std::nullopt;
        if (got == 0) return text;
        text.append(chunk, static_cast<size_t>(got));
        if (text.size() > limit) return std::nullopt;
    }
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

bool ReplaceFile(const std::string& path, std::string_view bytes, unsigned mode) {
    std::string temporary = path + ".tmp" + std::to_string(::getpid());
    UniqueFd file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode));
    if (!file.valid()) return false;
    bool written = WriteAll(file.get(), bytes) && ::fsync(file.get()) == 0;
    written = file.Reset() && written;
    if (written && ::rename(temporary.c_str(), path.c_str()) == 0) return true;
    int error = errno;
    ::unlink(temporary.c_str());
    errno = error;
    return false;
}

NewFileResult WriteNewFile(const std::string& path, std::string_view bytes, int& error) {
    UniqueFd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!file.valid()) {
        error = errno;
        return NewFileResult::kCreateFailed;
    }
    bool written = WriteAll(file.get(), bytes);
    if (!file.Reset()) written = false;
    if (!written) {
        ::unlink(path.c_str());  // a partial output is worse than none
        return NewFileResult::kWriteFailed;
    }
    return NewFileResult::kWritten;
}
