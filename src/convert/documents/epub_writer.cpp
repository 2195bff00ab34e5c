// EPUB 3 output: a stored ZIP package with the mimetype entry first, a container,
// a package document with a random identifier and the modification time, a
// navigation document listing the headings, and one XHTML chapter.
#include <charconv>

#include "convert/core/text.h"
#include "convert/documents/html_body.h"
#include "convert/documents/writers.h"
#include "convert/documents/zip.h"
#include "platform/system_services.h"

namespace {

constexpr std::string_view kXmlDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
// Used when the system cannot give random bytes: a valid, if shared, identifier.
constexpr std::string_view kFallbackUuid = "00000000-0000-4000-8000-000000000000";

std::string Modified() {
    std::tm time{};
    time.tm_year = 70;  // the epoch, should the clock be unreadable
    time.tm_mday = 1;
    if (auto now = CurrentUtcTime()) time = *now;
    return FormatText("%04u-%02u-%02uT%02u:%02u:%02uZ", static_cast<unsigned>(time.tm_year + 1900),
                      static_cast<unsigned>(time.tm_mon + 1), static_cast<unsigned>(time.tm_mday),
                      static_cast<unsigned>(time.tm_hour), static_cast<unsigned>(time.tm_min),
                      static_cast<unsigned>(time.tm_sec));
}

std::string Navigation(const Document& document, const std::string& title) {
    std::string entries;
    for (size_t i = 0; i < document.blocks.size(); ++i) {
        const Block& block = document.blocks[i];
        if (block.level < 1 || block.text.empty()) continue;
        char digits[24];
        auto result = std::to_chars(digits, digits + sizeof digits, i);
        entries.append("<li><a href=\"text.xhtml#p").append(digits, result.ptr).append("\">");
        entries.append(EscapeXmlText(block.text)).append("</a></li>");
    }
    if (entries.empty()) entries = "<li><a href=\"text.xhtml\">" + title + "</a></li>";
    std::string nav(kXmlDeclaration);
    nav.append(
        "<html xmlns=\"http://www.w3.org/1999/xhtml\" xmlns:epub=\"http://www.idpf.org/2007/ops\"><head><title>");
    nav.append(title).append("</title></head><body><nav epub:type=\"toc\"><h1>").append(title);
    nav.append("</h1><ol>").append(entries).append("</ol></nav></body></html>");
    return nav;
}

}  // namespace

std::string WriteEpub(const Document& document) {
    std::string body = HtmlBody(document);
    std::string identifier = "urn:uuid:" + RandomUuid().value_or(std::string(kFallbackUuid));
    std::string title = EscapeXmlText(document.title);
    // A title made only of characters XML cannot hold is as good as none.
    if (title.empty()) title = "Untitled";

    std::string container(kXmlDeclaration);
    container.append(
        "<container version=\"1.0\" xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\"><rootfiles>"
        "<rootfile full-path=\"OEBPS/content.opf\" media-type=\"application/oebps-package+xml\"/>"
        "</rootfiles></container>");

    std::string package(kXmlDeclaration);
    package.append(
        "<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"3.0\" unique-identifier=\"id\">"
        "<metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><dc:identifier id=\"id\">");
    package.append(identifier).append("</dc:identifier><dc:title>").append(title);
    package.append("</dc:title><dc:language>en</dc:language><meta property=\"dcterms:modified\">");
    package.append(Modified());
    package.append(
        "</meta></metadata><manifest>"
        "<item id=\"nav\" href=\"nav.xhtml\" media-type=\"application/xhtml+xml\" properties=\"nav\"/>"
        "<item id=\"text\" href=\"text.xhtml\" media-type=\"application/xhtml+xml\"/>"
        "</manifest><spine><itemref idref=\"text\"/></spine></package>");

    std::string text(kXmlDeclaration);
    text.append("<html xmlns=\"http://www.w3.org/1999/xhtml\"><head><title>").append(title);
    text.append("</title><style>").append(kDocumentCss).append("</style></head><body>");
    text.append(body).append("</body></html>");

    ZipWriter zip;
    AddEntry(zip, "mimetype", "application/epub+zip");
    AddEntry(zip, "META-INF/container.xml", container);
    AddEntry(zip, "OEBPS/content.opf", package);
    AddEntry(zip, "OEBPS/nav.xhtml", Navigation(document, title));
    AddEntry(zip, "OEBPS/text.xhtml", text);
    return FinishZip(zip);
}
