#include "convert/core/dispatch.h"

#include <sys/stat.h>

#include "convert/core/converters.h"
#include "convert/core/errors.h"
#include "convert/core/paths.h"

void ValidateInput(const std::string& path) {
    // Only absolute local paths: relative paths depend on the worker's folder, and
    // URIs name files this process cannot open directly.
    if (path.empty() || path.front() != '/') throw ConvertError("Only files on this PC can be converted");
    // The worker protocol is line based, so a path holding a line break cannot travel.
    if (path.find_first_of("\r\n") != std::string::npos) throw ConvertError("That isn't a normal file path");
    // A trailing "/" asks for a folder; the kernel would refuse a file behind it only by
    // saying that nothing is there.
    if (path.back() == '/') throw ConvertError("That isn't a file");
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) throw ConvertError("The file no longer exists");
    if (!S_ISREG(info.st_mode)) throw ConvertError("That isn't a file");
}

std::vector<std::string> ConvertFile(const std::string& input, const Target& target, ConvertContext& context) {
    ValidateInput(input);
    switch (KindOf(input)) {
    case kImageKind: return {ConvertImage(input, target, context)};
    case kVideoKind:
    case kAudioKind: return {ConvertMedia(input, target, context)};
    case kDocumentKind:
    case kSpreadsheetKind:
    case kPresentationKind:
    case kTextKind: return {ConvertDocument(input, target, context)};
    case kPdfKind:
        if (target.format >= kPng && target.format <= kSvg) return ConvertPdfPages(input, target, context);
        return {ConvertDocument(input, target, context)};
    case kUnknownKind: break;
    }
    throw ConvertError("Quillaven doesn't know this file type");
}
