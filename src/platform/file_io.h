// Whole-file reads and writes on POSIX descriptors, shared by every reader and writer:
// reads loop until the size is reached (a single read may be short), and new files are
// created exclusively and removed again when their write fails.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Closes its descriptor when it goes out of scope.
class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closes now; false when close reported an error (a delayed write failure).
    bool Reset();

private:
    int fd_;
};

// Reads up to `size` bytes into `out` (resized to what arrived, which is less when the
// file ended early). False on a read error.
bool ReadExactly(int fd, size_t size, std::string& out);

// The text of a small regular file, at most `limit` bytes; nothing when it can't be opened,
// is larger, or is no regular file (a FIFO, a device, a folder).
std::optional<std::string> ReadSmallFile(const std::string& path, size_t limit);

bool WriteAll(int fd, std::string_view bytes);

// Replaces `path` whole through a temporary file and rename, so that readers see the
// old text or the new, never half of one. False when anything failed (nothing changed;
// errno tells why).
bool ReplaceFile(const std::string& path, std::string_view bytes, unsigned mode);

enum class NewFileResult { kWritten, kCreateFailed, kWriteFailed };
// Creates `path` (never replacing anything, mode 0666 before the umask) and writes `bytes`.
// A failed write removes what it created. On kCreateFailed, `error` holds the errno.
NewFileResult WriteNewFile(const std::string& path, std::string_view bytes, int& error);
