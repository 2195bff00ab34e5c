#include "convert/documents/document.h"

#include "convert/core/converters.h"
#include "convert/core/errors.h"
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

    std::string output = OutputFilePath(FolderOf(input), StemOf(input), FormatExtension(target.format));
    switch (target.format) {
    case kPdf: WritePdf(document, output, context); break;
    case kTxt: WriteText(document, output); break;
    case kDocx: WriteDocx(document, output); break;
    case kHtml: WriteHtml(document, output); break;
    case kXlsx: WriteXlsx(document, output); break;
    case kCsv: WriteCsv(document, output); break;
    case kMd: WriteMarkdown(document, output); break;
    case kRtf: WriteRtf(document, output); break;
    case kOdt: WriteOdt(document, output); break;
    case kOds: WriteOds(document, output); break;
    case kEpub: WriteEpub(document, output); break;
    case kJson: WriteJson(document, output); break;
    case kTsv: WriteTsv(document, output); break;
    default: throw ConvertError("That conversion isn't supported for documents");
    }
    context.Report(1.0);
    return output;
}
