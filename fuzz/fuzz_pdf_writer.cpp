// Fuzzes the document writers (PDF, HTML, EPUB, Markdown, text) with documents
// built from the input bytes: arbitrary UTF-16 text (lone surrogates and control
// characters included), any heading level, list and break flags, and ragged tables.
// Besides not crashing, the PDF's cross-reference table must point at every object.
//
// Input: byte 0 bit 0 = preformatted; then records, each an opcode byte:
//   0 block: level (signed byte), flags (bit 0 list item, bit 1 break before), text
//   1 table: name text        2 row in the last table        3 cell in the last row: text
//   4 title: text
// A text is a length byte n followed by n little-endian UTF-16 code units.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "convert/core/errors.h"
#include "convert/documents/writers.h"
#include "convert/pdf/pdf_layout.h"

namespace {

class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool Done() const { return position_ >= size_; }
    uint8_t Byte() { return position_ < size_ ? data_[position_++] : 0; }
    std::u16string Text() {
        size_t length = Byte();
        std::u16string text;
        for (size_t i = 0; i < length && !Done(); ++i) {
            uint16_t low = Byte();
            uint16_t high = Byte();
            text.push_back(static_cast<char16_t>(low | (high << 8)));
        }
        return text;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
};

Document BuildDocument(const uint8_t* data, size_t size) {
    Input input(data, size);
    Document document;
    document.preformatted = input.Byte() & 1;
    while (!input.Done()) {
        switch (input.Byte() % 5) {
        case 0: {
            Block block;
            block.level = static_cast<int8_t>(input.Byte());
            uint8_t flags = input.Byte();
            block.listItem = flags & 1;
            block.breakBefore = flags & 2;
            block.text = input.Text();
            document.blocks.push_back(std::move(block));
            break;
        }
        case 1: document.tables.push_back(Table{input.Text(), {}}); break;
        case 2:
            if (!document.tables.empty()) document.tables.back().rows.emplace_back();
            break;
        case 3: {
            std::u16string text = input.Text();
            if (!document.tables.empty() && !document.tables.back().rows.empty())
                document.tables.back().rows.back().push_back(std::move(text));
            break;
        }
        default: document.title = input.Text(); break;
        }
    }
    return document;
}

void CheckCrossReference(const std::string& pdf) {
    size_t startxref = pdf.rfind("startxref\n");
    if (startxref == std::string::npos) abort();
    size_t xref = std::strtoull(pdf.c_str() + startxref + 10, nullptr, 10);
    if (pdf.compare(xref, 7, "xref\n0 ") != 0) abort();
    size_t count = std::strtoull(pdf.c_str() + xref + 7, nullptr, 10);
    size_t entry = pdf.find("0000000000 65535 f \n", xref) + 20;
    for (size_t number = 1; number < count; ++number, entry += 20) {
        size_t offset = std::strtoull(pdf.c_str() + entry, nullptr, 10);
        std::string header = std::to_string(number) + " 0 obj\n";
        if (pdf.compare(offset, header.size(), header) != 0) abort();
    }
}

// A private folder for the outputs, removed when the process ends (each output is
// removed right after its run). A plain array outlives every static destructor.
char folder[] = "/tmp/fuzz_pdf_writer-XXXXXX";

const char* Folder() {
    static const bool made = [] {
        if (!mkdtemp(folder)) abort();
        std::atexit([] { ::rmdir(folder); });
        return true;
    }();
    (void)made;
    return folder;
}

template <typename Write>
void WriteAndRemove(const char* name, Write write) {
    std::string path = std::string(Folder()) + "/" + name;
    ::unlink(path.c_str());
    try {
        write(path);
    } catch (const ConvertError&) {
    } catch (const Cancelled&) {
    }
    ::unlink(path.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Document document = BuildDocument(data, size);
    ConvertContext context;
    CheckCrossReference(LayoutPdf(document, size % 2 ? kLetterPage : kA4Page, context).Serialize());
    WriteAndRemove("out.pdf", [&](const std::string& path) { WritePdf(document, path, context); });
    WriteAndRemove("out.html", [&](const std::string& path) { WriteHtml(document, path); });
    WriteAndRemove("out.epub", [&](const std::string& path) { WriteEpub(document, path); });
    WriteAndRemove("out.md", [&](const std::string& path) { WriteMarkdown(document, path); });
    WriteAndRemove("out.txt", [&](const std::string& path) { WriteText(document, path); });
    return 0;
}
