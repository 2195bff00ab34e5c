#include "convert/documents/document.h"

#include "convert/core/converters.h"
#include "convert/core/errors.h"
#include "convert/core/output_file.h"
#include "convert/core/paths.h"
#include "convert/core/text.h"
#include "convert/documents/readers.h"
#include "convert/documents/writers.h"

void FinishBlock(Document& document, PendingBlock& pending) {
    Block block;
    block.text = Utf8ToWide(pending.text);
    block.level = pending.level;
    block.listItem = pending.listItem;
    block.breakBefore = pending.breakBefore;
    document.blocks.push_back(std::move(block));
    pending = PendingBlock{};
}

namespace {

bool IsTableTarget(int32_t format) {
    return format == kXlsx || format == kCsv || format == kOds || format == kJson || format == kTsv;
}

Document ReadByExtension(const std::string& path, const std::string& extension, ConvertContext& context) {
    if (extension == "pdf") return ReadPdfText(path, context);
    if (extension == "docx" || extension == "docm") return ReadWord(path);
    if (extension == "odt" || extension == "odp") return ReadOpenDocument(path);
    if (extension == "html" || extension == "htm" || extension == "xhtml" || extension == "epub" ||
        extension == "ods")
        return ReadWeb(path, extension);
    if (extension == "rtf") return ReadRtf(path);
    if (extension == "pptx") return ReadPowerPoint(path);
    if (extension == "xlsx" || extension == "xlsm") return ReadXlsx(path);
    if (extension == "csv" || extension == "tsv") return ReadDelimited(path);
    if (extension == "md" || extension == "markdown") return ReadPlainText(path, true, false);
    if (extension == "txt") return ReadPlainText(path, false, false);
    return ReadPlainText(path, false, true);
}

}  // namespace

Document ReadDocument(const std::string& path, ConvertContext& context) {
    Document document = ReadByExtension(path, ExtensionOf(path), context);
    if (document.title.empty()) document.title = Utf8ToWide(StemOf(path));
    return document;
}

std::string ConvertDocument(const std::string& input, const Target& target, ConvertContext& context) {
    Document document;
    if (IsTableTarget(target.format) && ExtensionOf(input) == "json") {
        document = ReadJsonTable(input);
    } else {
        document = ReadDocument(input, context);
    }
    context.Report(0.3);
    context.ThrowIfCancelled();

    std::string bytes;
    OutputTexts texts;
    switch (target.format) {
    case kPdf:
        bytes = WritePdf(document, context);
        texts = {"Couldn't create the PDF file", "Couldn't write the PDF file"};
        break;
    case kTxt: bytes = WriteText(document); break;
    case kDocx: bytes = WriteDocx(document); break;
    case kHtml: bytes = WriteHtml(document); break;
    case kXlsx: bytes = WriteXlsx(document); break;
    case kCsv: bytes = WriteCsv(document); break;
    case kMd: bytes = WriteMarkdown(document); break;
    case kRtf: bytes = WriteRtf(document); break;
    case kOdt: bytes = WriteOdt(document); break;
    case kOds: bytes = WriteOds(document); break;
    case kEpub: bytes = WriteEpub(document); break;
    case kJson: bytes = WriteJson(document); break;
    case kTsv: bytes = WriteTsv(document); break;
    default: throw ConvertError("That conversion isn't supported for documents");
    }
    // Packages keep the ZIP writer's own text for a failed write.
    if (target.format == kDocx || target.format == kXlsx || target.format == kOdt || target.format == kOds ||
        target.format == kEpub)
        texts.write = "Couldn't write the output file";
    context.ThrowIfCancelled();
    std::string output = PublishOutput(FolderOf(input), OutputStem(input, target.suffix),
                                       FormatExtension(target.format), bytes, texts);
    context.Report(1.0);
    return output;
}
