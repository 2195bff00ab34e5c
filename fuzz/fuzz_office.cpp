// Fuzzes the office readers on whole packages held in memory: the same bytes go through
// the Word, OpenDocument and PowerPoint readers. Only their own failures may leave;
// anything else is a crash, and the blocks must keep the model's rules.
#include <cstddef>
#include <cstdint>
#include <string>

#include "convert/core/errors.h"
#include "convert/documents/office_parts.h"
#include "convert/documents/zip.h"

namespace {

void CheckBlocks(const Document& document) {
    if (!document.title.empty() || !document.tables.empty()) __builtin_trap();
    for (const Block& block : document.blocks)
        if (block.level < 0 || block.level > 3) __builtin_trap();
}

template <typename Reader>
void Try(const ZipArchive& archive, Reader read) {
    try {
        CheckBlocks(read(archive));
    } catch (const ConvertError&) {
    } catch (const Cancelled&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ZipArchive archive;
    try {
        archive = OpenZipBytes(std::string(reinterpret_cast<const char*>(data), size));
    } catch (const ConvertError&) {
        return 0;
    }
    Try(archive, ReadWordPackage);
    Try(archive, ReadOpenDocumentPackage);
    Try(archive, [](const ZipArchive& package) {
        Document document = ReadPowerPointPackage(package);
        // Every slide that reads opens with its level-2 heading.
        if (!document.blocks.empty() && document.blocks.front().level != 2) __builtin_trap();
        return document;
    });
    return 0;
}
