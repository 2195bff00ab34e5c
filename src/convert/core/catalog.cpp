#include "convert/core/catalog.h"

#include <algorithm>
#include <initializer_list>
#include <unordered_map>

#include "convert/core/paths.h"
#include "convert/core/text.h"
#include "platform/encoder_probe.h"

namespace {

struct FormatInfo {
    std::string_view extension;
    std::string_view name;
};

constexpr FormatInfo kFormats[kFormatCount] = {
    {"png", "PNG"},   {"jpg", "JPG"},   {"bmp", "BMP"},   {"tiff", "TIFF"}, {"gif", "GIF"},
    {"ico", "ICO"},   {"webp", "WEBP"}, {"heic", "HEIC"}, {"jxr", "JXR"},   {"dds", "DDS"},
    {"tga", "TGA"},   {"qoi", "QOI"},   {"ppm", "PPM"},   {"cur", "CUR"},   {"svg", "SVG"},
    {"mp4", "MP4"},   {"mp4", "HEVC"},  {"mov", "MOV"},   {"wmv", "WMV"},   {"3gp", "3GP"},
    {"mp3", "MP3"},   {"m4a", "M4A"},   {"wav", "WAV"},   {"flac", "FLAC"}, {"m4a", "ALAC"},
    {"wma", "WMA"},   {"aac", "AAC"},   {"aiff", "AIFF"}, {"pdf", "PDF"},   {"txt", "TXT"},
    {"docx", "DOCX"}, {"html", "HTML"}, {"xlsx", "XLSX"}, {"csv", "CSV"},   {"md", "MD"},
    {"rtf", "RTF"},   {"odt", "ODT"},   {"ods", "ODS"},   {"epub", "EPUB"}, {"json", "JSON"},
    {"tsv", "TSV"},
};

struct KindExtensions {
    FileKind kind;
    std::initializer_list<const char*> extensions;
};

const KindExtensions kKindTable[] = {
    {kImageKind, {"png", "jpg", "jpeg", "jpe", "jfif", "bmp", "dib", "gif", "tif", "tiff", "ico", "jxr", "wdp",
                  "heic", "heif", "webp", "avif", "dds", "cur", "jxl", "dng", "cr2", "cr3", "crw", "nef", "nrw",
                  "arw", "srf", "sr2", "orf", "rw2", "raf", "pef", "srw", "raw", "3fr", "erf", "kdc", "dcr",
                  "mrw", "x3f", "iiq", "mef", "mos", "tga", "qoi", "ppm", "pgm", "pbm", "pnm", "pam", "svg"}},
    {kVideoKind, {"mp4", "m4v", "mov", "mkv", "avi", "wmv", "webm", "3gp", "3g2", "mts", "m2ts", "ts", "mpg",
                  "mpeg", "asf"}},
    {kAudioKind, {"mp3", "wav", "m4a", "aac", "wma", "flac", "ogg", "opus", "aiff", "aif", "alac", "amr", "m4b",
                  "mp2", "mka", "weba"}},
    {kDocumentKind, {"docx", "docm", "odt", "rtf", "html", "htm", "xhtml", "epub"}},
    {kSpreadsheetKind, {"xlsx", "xlsm", "ods"}},
    {kPresentationKind, {"pptx", "odp"}},
    {kTextKind, {"txt", "md", "markdown", "csv", "tsv", "log", "json", "xml", "ini", "yaml", "yml"}},
    {kPdfKind, {"pdf"}},
};

const std::unordered_map<std::string, FileKind>& KindMap() {
    static const std::unordered_map<std::string, FileKind> map = [] {
        std::unordered_map<std::string, FileKind> built;
        for (const auto& row : kKindTable)
            for (const char* extension : row.extensions) built.emplace(extension, row.kind);
        return built;
    }();
    return map;
}

// ---- catalog building ----

using Aliases = std::initializer_list<const char*>;

MenuEntry FormatEntry(int32_t format, std::string sublabel, int32_t option) {
    MenuEntry entry;
    entry.label = std::string(FormatName(format));
    entry.sublabel = std::move(sublabel);
    entry.format = format;
    entry.option = option;
    return entry;
}

MenuEntry NamedEntry(std::string label, int32_t format, int32_t option, std::string suffix) {
    MenuEntry entry;
    entry.label = std::move(label);
    entry.format = format;
    entry.option = option;
    entry.suffix = std::move(suffix);
    return entry;
}

MenuEntry GroupEntry(std::string label, char16_t glyph, std::vector<MenuEntry> children) {
    MenuEntry entry = NamedEntry(std::move(label), 0, 0, "");
    entry.glyph = glyph;
    entry.children = std::move(children);
    return entry;
}

// An entry that would turn the file into its own format is left out; HEVC never is,
// so an MP4 can still be re-encoded as HEVC.
bool IsOwnFormat(const std::string& inputExtension, int32_t format, Aliases aliases) {
    if (format != kHevc && inputExtension == FormatExtension(format)) return true;
    for (const char* alias : aliases)
        if (inputExtension == alias) return true;
    return false;
}

struct ListBuilder {
    const std::string& extension;
    std::vector<MenuEntry> entries;

    void Filtered(MenuEntry entry, Aliases aliases = {}) {
        if (!IsOwnFormat(extension, entry.format, aliases)) entries.push_back(std::move(entry));
    }
    void Always(MenuEntry entry) { entries.push_back(std::move(entry)); }
};

MenuEntry BitRateEntry(int32_t format, std::string sublabel, std::initializer_list<int32_t> rates) {
    MenuEntry entry = FormatEntry(format, std::move(sublabel), *rates.begin());
    for (int32_t rate : rates) entry.children.push_back(NamedEntry(std::to_string(rate) + "k", format, rate, ""));
    return entry;
}

MenuEntry ResolutionEntry(int32_t format, std::string sublabel, size_t defaultChild) {
    MenuEntry entry = FormatEntry(format, std::move(sublabel), 0);
    entry.children.push_back(NamedEntry("Original", format, 0, ""));
    entry.children.push_back(NamedEntry("1080p", format, 1080, "1080p"));
    entry.children.push_back(NamedEntry("720p", format, 720, "720p"));
    entry.children.push_back(NamedEntry("480p", format, 480, "480p"));
    entry.defaultChild = defaultChild;
    return entry;
}

MenuEntry FramesEntry(int32_t format) {
    MenuEntry entry = FormatEntry(format, "", -1);
    entry.children.push_back(NamedEntry("All frames", format, -1, "frames"));
    entry.children.push_back(NamedEntry("One frame", format, 10, ""));
    return entry;
}

std::vector<MenuEntry> AudioList(const std::string& extension, const CapabilityFlags& caps) {
    ListBuilder list{extension, {}};
    list.Filtered(BitRateEntry(kMp3, "Universal", {192, 320, 128}));
    list.Filtered(BitRateEntry(kM4a, "AAC", {192, 128}));
    list.Filtered(FormatEntry(kWav, "Lossless", 0));
    if (caps.flacEncoder) list.Filtered(FormatEntry(kFlac, "Lossless", 0));
    if (caps.alacEncoder) list.Always(FormatEntry(kAlac, "Apple lossless", 0));
    list.Filtered(BitRateEntry(kWma, "Windows", {192, 128}));
    list.Filtered(FormatEntry(kAac, "Raw AAC", 192));
    list.Filtered(FormatEntry(kAiff, "Apple", 0), {"aif"});
    return std::move(list.entries);
}

std::vector<MenuEntry> DocumentList(const std::string& extension) {
    ListBuilder list{extension, {}};
    list.Filtered(FormatEntry(kPdf, "Document", 0));
    list.Filtered(FormatEntry(kDocx, "Word", 0), {"docm"});
    list.Filtered(FormatEntry(kOdt, "OpenDocument", 0));
    list.Filtered(FormatEntry(kRtf, "Rich text", 0));
    list.Filtered(FormatEntry(kTxt, "Plain text", 0));
    list.Filtered(FormatEntry(kMd, "Markdown", 0), {"markdown"});
    list.Filtered(FormatEntry(kHtml, "Web page", 0), {"htm", "xhtml"});
    list.Filtered(FormatEntry(kEpub, "E-book", 0));
    return std::move(list.entries);
}

std::vector<MenuEntry> SpreadsheetList(const std::string& extension) {
    ListBuilder list{extension, {}};
    list.Filtered(FormatEntry(kPdf, "Document", 0));
    list.Filtered(FormatEntry(kXlsx, "Excel", 0), {"xlsm"});
    list.Filtered(FormatEntry(kOds, "OpenDocument", 0));
    list.Filtered(FormatEntry(kCsv, "Table", 0));
    list.Filtered(FormatEntry(kTsv, "Tabs", 0));
    list.Filtered(FormatEntry(kJson, "Data", 0));
    list.Filtered(FormatEntry(kHtml, "Web page", 0));
    return std::move(list.entries);
}

std::vector<MenuEntry> FixedList(std::initializer_list<std::pair<int32_t, const char*>> formats) {
    std::vector<MenuEntry> entries;
    for (const auto& [format, sublabel] : formats) entries.push_back(FormatEntry(format, sublabel, 0));
    return entries;
}

std::vector<MenuEntry> ImageCatalog(const std::string& extension, const CapabilityFlags& caps) {
    ListBuilder image{extension, {}};
    image.Filtered(FormatEntry(kPng, "Lossless", 0));
    MenuEntry jpg = FormatEntry(kJpg, "Photo", 92);
    jpg.children.push_back(NamedEntry("High", kJpg, 92, ""));
    jpg.children.push_back(NamedEntry("Balanced", kJpg, 80, "medium"));
    jpg.children.push_back(NamedEntry("Small", kJpg, 65, "small"));
    image.Always(std::move(jpg));
    image.Filtered(FormatEntry(kWebp, "Lossless", 0));
    if (caps.heifEncoder) image.Filtered(FormatEntry(kHeic, "iPhone", 90), {"heif"});
    image.Filtered(FormatEntry(kGif, "256 colors", 0));
    image.Filtered(FormatEntry(kTiff, "Print", 0), {"tif"});
    image.Filtered(FormatEntry(kBmp, "Bitmap", 0), {"dib"});
    image.Filtered(FormatEntry(kIco, "Icon", 0));

    ListBuilder more{extension, {}};
    more.Filtered(FormatEntry(kJxr, "JPEG XR", 90), {"wdp"});
    more.Filtered(FormatEntry(kSvg, "Web", 0));
    more.Filtered(FormatEntry(kTga, "Targa", 0));
    more.Filtered(FormatEntry(kDds, "Textures", 0));
    more.Filtered(FormatEntry(kQoi, "Lossless", 0));
    more.Filtered(FormatEntry(kPpm, "Netpbm", 0), {"pgm", "pbm", "pnm", "pam"});
    more.Filtered(FormatEntry(kCur, "Cursor", 0));
    MenuEntry moreEntry = NamedEntry("More", 0, 0, "");
    moreEntry.sublabel = std::to_string(more.entries.size()) + " formats";
    moreEntry.children = std::move(more.entries);
    image.Always(std::move(moreEntry));

    std::vector<MenuEntry> top;
    top.push_back(GroupEntry("Image", kGlyphImage, std::move(image.entries)));
    top.push_back(GroupEntry("Document", kGlyphDocument, FixedList({{kPdf, "Document"}})));
    return top;
}

std::vector<MenuEntry> VideoCatalog(const std::string& extension, const CapabilityFlags& caps) {
    ListBuilder video{extension, {}};
    video.Always(ResolutionEntry(kMp4, "H.264", extension == "mp4" ? 2 : 0));
    if (caps.hevcEncoder) video.Always(ResolutionEntry(kHevc, "Smaller", 0));
    video.Filtered(FormatEntry(kMov, "QuickTime", 0));
    video.Filtered(FormatEntry(kWmv, "Windows", 0));
    video.Filtered(FormatEntry(k3gp, "Old phones", 480), {"3g2"});
    MenuEntry gif = FormatEntry(kGif, "Animated", 480);
    gif.children.push_back(NamedEntry("480 px", kGif, 480, ""));
    gif.children.push_back(NamedEntry("320 px", kGif, 320, "small"));
    gif.children.push_back(NamedEntry("640 px", kGif, 640, "large"));
    video.Always(std::move(gif));

    std::vector<MenuEntry> top;
    top.push_back(GroupEntry("Video", kGlyphVideo, std::move(video.entries)));
    top.push_back(GroupEntry("Audio", kGlyphAudio, AudioList(extension, caps)));
    std::vector<MenuEntry> frames;
    frames.push_back(FramesEntry(kPng));
    frames.push_back(FramesEntry(kJpg));
    top.push_back(GroupEntry("Image", kGlyphImage, std::move(frames)));
    return top;
}

std::vector<MenuEntry> PdfCatalog() {
    std::vector<MenuEntry> documents = DocumentList("pdf");
    if (!documents.empty()) documents.front().sublabel = "Editable";
    std::vector<MenuEntry> top;
    top.push_back(GroupEntry("Document", kGlyphDocument, std::move(documents)));
    top.push_back(GroupEntry("Image", kGlyphImage, FixedList({{kPng, "Pages"}, {kJpg, "Pages"}})));
    return top;
}

std::vector<MenuEntry> CatalogFor(FileKind kind, const std::string& extension, const CapabilityFlags& caps) {
    auto documentGroup = [](std::vector<MenuEntry> entries) {
        std::vector<MenuEntry> top;
        top.push_back(GroupEntry("Document", kGlyphDocument, std::move(entries)));
        return top;
    };
    switch (kind) {
    case kImageKind: return ImageCatalog(extension, caps);
    case kVideoKind: return VideoCatalog(extension, caps);
    case kAudioKind: {
        std::vector<MenuEntry> top;
        top.push_back(GroupEntry("Audio", kGlyphAudio, AudioList(extension, caps)));
        return top;
    }
    case kDocumentKind: return documentGroup(DocumentList(extension));
    case kSpreadsheetKind: return documentGroup(SpreadsheetList(extension));
    case kPresentationKind:
        return documentGroup(FixedList({{kPdf, "Handout"}, {kDocx, "Word"}, {kOdt, "OpenDocument"},
                                        {kTxt, "Outline"}, {kMd, "Markdown"}, {kHtml, "Web page"}}));
    case kTextKind:
        if (extension == "csv" || extension == "tsv") return documentGroup(SpreadsheetList(extension));
        if (extension == "json")
            return documentGroup(FixedList({{kPdf, "Document"}, {kCsv, "Table"}, {kXlsx, "Excel"},
                                            {kTsv, "Tabs"}, {kTxt, "Plain text"}, {kHtml, "Web page"}}));
        return documentGroup(DocumentList(extension));
    case kPdfKind: return PdfCatalog();
    case kUnknownKind: break;
    }
    return {};
}

}  // namespace

std::string_view FormatExtension(int32_t format) {
    return format >= 1 && format <= kFormatCount ? kFormats[format - 1].extension : std::string_view();
}

std::string_view FormatName(int32_t format) {
    return format >= 1 && format <= kFormatCount ? kFormats[format - 1].name : std::string_view("?");
}

int32_t FormatFromToken(std::string_view token) {
    std::string lower = ToLower(token);
    std::string upper = ToUpper(token);
    for (int32_t format = 1; format <= kFormatCount; ++format)
        if (lower == kFormats[format - 1].extension || upper == kFormats[format - 1].name) return format;
    return 0;
}

int32_t FormatFromName(std::string_view name) {
    for (int32_t format = 1; format <= kFormatCount; ++format)
        if (name == kFormats[format - 1].name) return format;
    return 0;
}

FileKind KindOfExtension(std::string_view lowerCaseExtension) {
    const auto& map = KindMap();
    auto found = map.find(std::string(lowerCaseExtension));
    return found == map.end() ? kUnknownKind : found->second;
}

FileKind KindOf(std::string_view path) { return KindOfExtension(ExtensionOf(path)); }

const std::vector<std::string>& AllExtensions() {
    static const std::vector<std::string> extensions = [] {
        std::vector<std::string> list;
        for (const auto& [extension, kind] : KindMap()) list.push_back(extension);
        return list;
    }();
    return extensions;
}

const CapabilityFlags& Capabilities() {
    static const CapabilityFlags flags = ProbeEncoders();
    return flags;
}

MenuEntry BuildTargetMenu(const std::vector<std::string>& files) { return BuildTargetMenu(files, Capabilities()); }

MenuEntry BuildTargetMenu(const std::vector<std::string>& files, const CapabilityFlags& capabilities) {
    MenuEntry root;
    if (files.empty()) return root;
    std::string extension = ExtensionOf(files.front());
    root.children = CatalogFor(KindOfExtension(extension), extension, capabilities);

    // A group of one is replaced by its entry, which keeps the group's glyph.
    for (MenuEntry& entry : root.children) {
        if (entry.children.size() == 1) {
            char16_t glyph = entry.glyph;
            MenuEntry only = std::move(entry.children.front());
            entry = std::move(only);
            entry.glyph = glyph;
        }
    }
    // A lone group shows its formats directly.
    if (root.children.size() == 1) {
        MenuEntry& lone = root.children.front();
        if (!lone.children.empty() && lone.glyph != 0 && lone.format == 0) {
            std::vector<MenuEntry> children = std::move(lone.children);
            root.children = std::move(children);
        }
    }
    return root;
}

const MenuEntry& DefaultLeaf(const MenuEntry& entry) {
    const MenuEntry* current = &entry;
    while (!current->children.empty()) {
        size_t index = std::min(current->defaultChild, current->children.size() - 1);
        current = &current->children[index];
    }
    return *current;
}
