// Fuzz harness for the document and table writers: writes the document built from the input
// in every format. Only the writers' refusals (ConvertError) are expected.
#include "convert/core/errors.h"
#include "convert/documents/writers.h"
#include "document_from_bytes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Document document = fuzzing::DocumentFromBytes(data, size);
    for (auto write : {WriteDocx, WriteOdt, WriteRtf, WriteXlsx, WriteOds, WriteCsv, WriteTsv, WriteJson}) {
        try {
            write(document);
        } catch (const ConvertError&) {
            // refusals such as "This file has no table to export"
        }
    }
    return 0;
}
