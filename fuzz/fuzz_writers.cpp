// Fuzz harness for the document and table writers: builds a Document from the input
// and writes it in every format into a scratch folder. Only the writers' own refusals
// (ConvertError) are expected; anything else crashes the run.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "convert/core/errors.h"
#include "convert/documents/writers.h"
#include "document_from_bytes.h"

namespace {

// A plain array, so that the exit handler can still read it after static objects are gone.
char scratchFolder[] = "/tmp/quillaven-fuzz-writers-XXXXXX";

const char* ScratchFolder() {
    static const bool created = [] {
        if (!::mkdtemp(scratchFolder)) std::abort();
        std::atexit([] { ::rmdir(scratchFolder); });
        return true;
    }();
    (void)created;
    return scratchFolder;
}

template <typename Writer>
void WriteAndRemove(Writer writer, const Document& document, const char* name) {
    std::string path = std::string(ScratchFolder()) + "/" + name;
    try {
        writer(document, path);
    } catch (const ConvertError&) {
        // refusals such as "This file has no table to export" are the expected failures
    }
    ::unlink(path.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Document document = fuzzing::DocumentFromBytes(data, size);
    WriteAndRemove(WriteDocx, document, "out.docx");
    WriteAndRemove(WriteOdt, document, "out.odt");
    WriteAndRemove(WriteRtf, document, "out.rtf");
    WriteAndRemove(WriteXlsx, document, "out.xlsx");
    WriteAndRemove(WriteOds, document, "out.ods");
    WriteAndRemove(WriteCsv, document, "out.csv");
    WriteAndRemove(WriteTsv, document, "out.tsv");
    WriteAndRemove(WriteJson, document, "out.json");
    return 0;
}
