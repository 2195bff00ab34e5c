#include "convert/documents/document_files.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "convert/core/errors.h"
#include "platform/file_io.h"

std::string ReadWholeFile(const std::string& path, uint64_t limit) {
    UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.valid()) throw ConvertError("Couldn't open the file", HResultFromErrno(errno));
    struct stat info;
    if (::fstat(file.get(), &info) != 0) throw ConvertError("Couldn't read the file");
    if (static_cast<uint64_t>(info.st_size) > limit) throw ConvertError("This file is too large to convert");
    // A file that shrank while we read it gives what arrived.
    std::string bytes;
    if (!ReadExactly(file.get(), static_cast<size_t>(info.st_size), bytes)) throw ConvertError("Couldn't read the file");
    return bytes;
}
