// Excel reader: a whole archive, or the shared strings, relationships, workbook and one sheet.
#include "reader_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzzing::Survive(data, size, [](std::string_view bytes) {
        ReadXlsxArchive(fuzzing::Package(
            bytes, {"xl/sharedStrings.xml", "xl/_rels/workbook.xml.rels", "xl/workbook.xml", "xl/worksheets/sheet1.xml"}));
    });
}
