#include "convert/core/paths.h"

#include "convert/core/text.h"

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

std::string OutputStem(std::string_view input, std::string_view suffix) {
    std::string stem = StemOf(input);
    if (!suffix.empty()) {
        stem.push_back(' ');
        stem.append(suffix);
    }
    return stem;
}
