// EPUB reader: a whole archive, or container.xml, the package document and one chapter.
#include "reader_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzzing::Survive(data, size, [](std::string_view bytes) {
        ReadEpubArchive(fuzzing::Package(bytes, {"META-INF/container.xml", "OEBPS/content.opf", "OEBPS/Text/ch 1.xhtml"}));
    });
}
