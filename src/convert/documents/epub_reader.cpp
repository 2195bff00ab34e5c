// EPUB books: META-INF/container.xml names the package document, whose spine lists
// the chapters; each chapter is read as HTML into one Document, later chapters opening
// with a page break. The title comes from dc:title.
// Limits: the first 10,000 spine entries; a chapter listed twice, or the package
// document itself, is read once or not at all, so a hostile spine cannot multiply text.
#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "convert/core/errors.h"
#include "convert/core/text.h"
#include "convert/documents/reader_internals.h"
#include "convert/documents/readers.h"
#include "convert/documents/xml.h"

namespace {

constexpr size_t kMaxSpineEntries = 10000;  // far beyond any real book's chapter count

std::string DecodedAttribute(std::string_view tag, std::string_view name) {
    std::string value;
    DecodeEntities(GetAttribute(tag, name), value);
    return value;
}

std::string_view TrimSpacesAndLineFeeds(std::string_view text) {
    size_t start = text.find_first_not_of(" \n");
    if (start == text.npos) return {};
    return text.substr(start, text.find_last_not_of(" \n") - start + 1);
}

class ContainerHandler : public XmlHandler {
public:
    void OnTag(std::string_view name, std::string_view tag, bool closing, bool) override {
        if (!found && !closing && name == "rootfile") {
            packagePath = DecodedAttribute(tag, "full-path");
            found = true;
        }
    }
    bool found = false;
    std::string packagePath;
};

class PackageHandler : public XmlHandler {
public:
    explicit PackageHandler(TextSink& sink) : sink_(sink) {}

    void OnTag(std::string_view name, std::string_view tag, bool closing, bool selfClosing) override {
        if (closing) {
            if (name == "dc:title" && sink_.collecting) {
                sink_.collecting = false;
                title = std::string(TrimSpacesAndLineFeeds(sink_.out));
                titleSeen = true;
            }
            return;
        }
        if (name == "item") {
            items.try_emplace(DecodedAttribute(tag, "id"), DecodedAttribute(tag, "href"));
        } else if (name == "itemref") {
            spine.push_back(DecodedAttribute(tag, "idref"));
        } else if (name == "dc:title" && !selfClosing && !titleSeen) {
            sink_.out.clear();
            sink_.collecting = true;
        }
    }

    std::unordered_map<std::string, std::string> items;  // id to href
    std::vector<std::string> spine;                      // idrefs in reading order
    std::string title;
    bool titleSeen = false;

private:
    TextSink& sink_;
};

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string PercentDecoded(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        int high = -1, low = -1;
        if (text[i] == '%' && i + 2 < text.size() && (high = HexValue(text[i + 1])) >= 0 &&
            (low = HexValue(text[i + 2])) >= 0) {
            out.push_back(static_cast<char>(high * 16 + low));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

// Joins the package folder and an href and resolves "." and ".." segments. A ".."
// at the top stays inside the package: there is nothing above it to reach.
std::string ResolveInPackage(std::string_view base, std::string_view href) {
    href = href.substr(0, href.find('#'));
    std::string joined = std::string(base) + PercentDecoded(href);
    std::vector<std::string_view> segments;
    std::string_view rest = joined;
    while (!rest.empty()) {
        size_t slash = rest.find('/');
        std::string_view segment = rest.substr(0, slash);
        rest = slash == rest.npos ? std::string_view() : rest.substr(slash + 1);
        if (segment.empty() || segment == ".") continue;
        if (segment == "..") {
            if (!segments.empty()) segments.pop_back();
            continue;
        }
        segments.push_back(segment);
    }
    std::string path;
    for (auto segment : segments) {
        if (!path.empty()) path.push_back('/');
        path.append(segment);
    }
    return path;
}

}  // namespace

Document ReadEpubArchive(const ZipArchive& archive) {
    std::string container = ReadEntryOrFail(archive, "META-INF/container.xml", "This doesn't look like an EPUB book");
    TextSink ignored;
    ContainerHandler containerHandler;
    ScanXml(container, containerHandler, ignored);
    const std::string& packagePath = containerHandler.packagePath;
    std::string package = ReadEntryOrFail(archive, packagePath, "This EPUB book is damaged");

    size_t slash = packagePath.rfind('/');
    std::string base = slash == packagePath.npos ? std::string() : packagePath.substr(0, slash + 1);
    TextSink titleSink;
    PackageHandler packageHandler(titleSink);
    ScanXml(package, packageHandler, titleSink);

    Document document;
    std::unordered_set<std::string> read;
    std::string chapter;
    size_t entries = std::min(packageHandler.spine.size(), kMaxSpineEntries);
    for (size_t i = 0; i < entries; ++i) {
        auto item = packageHandler.items.find(packageHandler.spine[i]);
        if (item == packageHandler.items.end()) continue;
        std::string path = ResolveInPackage(base, item->second);
        if (path.empty() || path == packagePath || !read.insert(path).second) continue;
        chapter.clear();
        if (!ReadEntry(archive, path, chapter)) continue;
        size_t before = document.blocks.size();
        ReadHtmlInto(chapter, document);
        if (before > 0 && document.blocks.size() > before) document.blocks[before].breakBefore = true;
    }
    if (document.blocks.empty() && document.tables.empty()) throw ConvertError("This EPUB book has no readable text");
    document.title = Utf8ToWide(packageHandler.title);
    return document;
}

Document ReadEpub(const std::string& path) { return ReadEpubArchive(OpenZip(path)); }
