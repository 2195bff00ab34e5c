#include "convert/documents/document_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "convert/core/errors.h"

namespace {

struct FileDescriptor {
    explicit FileDescriptor(int descriptor) : fd(descriptor) {}
    ~FileDescriptor() {
        if (fd >= 0) ::close(fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int fd;
};

}  // namespace

std::string ReadWholeFile(const std::string& path, uint64_t limit) {
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.fd < 0) throw ConvertError("Couldn't open the file", HResultFromErrno(errno));
    struct stat info;
    if (::fstat(file.fd, &info) != 0) throw ConvertError("Couldn't read the file");
    uint64_t size = static_cast<uint64_t>(info.st_size);
    if (size > limit) throw ConvertError("This file is too large to convert");

    std::string bytes(static_cast<size_t>(size), '\0');
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t got = ::read(file.fd, bytes.data() + done, bytes.size() - done);
        if (got < 0) {
            if (errno == EINTR) continue;
            throw ConvertError("Couldn't read the file");
        }
        if (got == 0) break;  // the file shrank while we read it: keep what arrived
        done += static_cast<size_t>(got);
    }
    bytes.resize(done);
    return bytes;
}

void WriteWholeFile(const std::string& path, std::string_view bytes) {
    FileDescriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (file.fd < 0) throw ConvertError("Couldn't create the output file", HResultFromErrno(errno));
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t wrote = ::write(file.fd, bytes.data() + done, bytes.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) {
            ::unlink(path.c_str());  // never leave a partial output beside the input
            throw ConvertError("Couldn't write the output file (disk full?)");
        }
        done += static_cast<size_t>(wrote);
    }
    if (::close(file.fd) != 0) {
        file.fd = -1;
        ::unlink(path.c_str());
        throw ConvertError("Couldn't write the output file (disk full?)");
    }
    file.fd = -1;
}
