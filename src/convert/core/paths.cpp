#include "convert/core/paths.h"

#include <sys/stat.h>

#include "convert/core/errors.h"
#include "convert/core/text.h"

namespace {

constexpr int kLastNumberedName = 9999;  // names go up to "(9999)"; past that the folder is hopeless

bool EntryExists(const std::string& path) {
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0;
}

}  // namespace

std::string ExtensionOf(std::string_view path) {
    size_t dot = path.rfind('.');
    if (dot == path.npos) return {};
    size_t slash = path.rfind('/');
    if (slash != path.npos && slash > dot) return {};
    return ToLower(path.substr(dot + 1));
}

std::string FolderOf(std::string_view path) {
    size_t slash = path.rfind('/');
    if (slash == path.npos) return ".";
    if (slash == 0) return "/";
    return std::string(path.substr(0, slash));
}

std::string FileNameOf(std::string_view path) {
    size_t slash = path.rfind('/');
    return std::string(slash == path.npos ? path : path.substr(slash + 1));
}

std::string StemOf(std::string_view path) {
    std::string name = FileNameOf(path);
    size_t dot = name.rfind('.');
    if (dot == name.npos || dot == 0) return name;
    return name.substr(0, dot);
}

std::string JoinPath(std::string_view folder, std::string_view name) {
    if (folder.empty()) return std::string(name);
    std::string joined(folder);
    if (joined.back() != '/') joined.push_back('/');
    joined.append(name);
    return joined;
}

std::string UniqueOutputPath(std::string_view folder, std::string_view stem, std::string_view tail) {
    std::string base(stem);
    std::string candidate = JoinPath(folder, base + std::string(tail));
    for (int n = 2; EntryExists(candidate); ++n) {
        if (n > kLastNumberedName) throw ConvertError("Too many files with this name in the folder");
        candidate = JoinPath(folder, base + " (" + std::to_string(n) + ")" + std::string(tail));
    }
    return candidate;
}

std::string OutputFilePath(std::string_view folder, std::string_view stem, std::string_view extension) {
    return UniqueOutputPath(folder, stem, "." + std::string(extension));
}

std::string OutputFolderPath(std::string_view folder, std::string_view name) {
    return UniqueOutputPath(folder, name, "");
}

std::string OutputStem(std::string_view input, std::string_view suffix) {
    std::string stem = StemOf(input);
    if (!suffix.empty()) {
        stem.push_back(' ');
        stem.append(suffix);
    }
    return stem;
}
