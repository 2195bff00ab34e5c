// Fuzz harness for the PDF layout and the HTML, EPUB, Markdown and text writers, with documents
// built from the input. Besides not crashing, every entry of the PDF's cross-reference table
// must point at its object.
#include <cstdlib>

#include "convert/core/errors.h"
#include "convert/documents/writers.h"
#include "convert/pdf/pdf_layout.h"
#include "document_from_bytes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Document document = fuzzing::DocumentFromBytes(data, size);
    ConvertContext context;
    std::string pdf = LayoutPdf(document, size % 2 ? kLetterPage : kA4Page, context).Serialize();
    size_t xref = std::strtoull(pdf.c_str() + pdf.rfind("startxref\n") + 10, nullptr, 10);
    if (pdf.compare(xref, 7, "xref\n0 ") != 0) std::abort();
    size_t count = std::strtoull(pdf.c_str() + xref + 7, nullptr, 10), entry = pdf.find(" f \n", xref) + 4;
    for (size_t number = 1; number < count; ++number, entry += 20) {
        std::string header = std::to_string(number) + " 0 obj\n";
        if (pdf.compare(std::strtoull(pdf.c_str() + entry, nullptr, 10), header.size(), header) != 0) std::abort();
    }
    for (auto write : {WriteHtml, WriteEpub, WriteMarkdown, WriteText}) {
        try {
            write(document);
        } catch (const ConvertError&) {
        }
    }
    return 0;
}
