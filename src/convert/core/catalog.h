// The program's vocabulary of conversions: the 41 output formats, the file kinds
// of inputs, the Target of one request and the catalog of targets offered for a file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

inline constexpr int kFormatCount = 41;

// Format numbers are stable: converters dispatch on them.
enum Format : int32_t {
    kPng = 1, kJpg, kBmp, kTiff, kGif, kIco, kWebp, kHeic, kJxr, kDds, kTga, kQoi, kPpm, kCur, kSvg,
    kMp4, kHevc, kMov, kWmv, k3gp,
    kMp3, kM4a, kWav, kFlac, kAlac, kWma, kAac, kAiff,
    kPdf, kTxt, kDocx, kHtml, kXlsx, kCsv, kMd, kRtf, kOdt, kOds, kEpub, kJson, kTsv,
};

// The extension token (lower case, also the output's extension); "" outside the table.
std::string_view FormatExtension(int32_t format);
// The display token (upper case); "?" outside the table.
std::string_view FormatName(int32_t format);
// The lowest-numbered format whose extension token equals the lower-cased token or whose
// display token equals the upper-cased token (so "mp4" is MP4 and "hevc" HEVC); 0 for none.
int32_t FormatFromToken(std::string_view token);
// The format whose display token equals the token exactly; 0 for none.
int32_t FormatFromName(std::string_view name);

enum FileKind : int32_t {
    kUnknownKind = 0, kImageKind, kVideoKind, kAudioKind, kDocumentKind,
    kSpreadsheetKind, kPresentationKind, kTextKind, kPdfKind,
};

FileKind KindOf(std::string_view path);
FileKind KindOfExtension(std::string_view lowerCaseExtension);
// The 108 known extensions, in the kind map's own order.
const std::vector<std::string>& AllExtensions();

struct Target {
    int32_t format = 0;
    int32_t option = 0;
    std::string suffix;  // added after one space to the output's stem; one word or empty

    friend bool operator==(const Target&, const Target&) = default;
};

struct CapabilityFlags {
    bool flacEncoder = false;
    bool alacEncoder = false;
    bool hevcEncoder = false;
    bool heifEncoder = false;
};

// Which optional encoders this build can use, probed once per process.
const CapabilityFlags& Capabilities();

struct MenuEntry {
    std::string label;
    std::string sublabel;
    char16_t glyph = 0;
    int32_t format = 0;
    int32_t option = 0;
    std::string suffix;
    std::vector<MenuEntry> children;
    size_t defaultChild = 0;
    float highlight = 0.0f;  // animation state kept here by the radial menu
};

inline constexpr char16_t kGlyphImage = 0xEB9F;
inline constexpr char16_t kGlyphVideo = 0xE714;
inline constexpr char16_t kGlyphAudio = 0xE8D6;
inline constexpr char16_t kGlyphDocument = 0xE8A5;

// The catalog's top level for a list of inputs; only the first decides.
MenuEntry BuildTargetMenu(const std::vector<std::string>& files);
MenuEntry BuildTargetMenu(const std::vector<std::string>& files, const CapabilityFlags& capabilities);
// Follows defaultChild (clamped to the last child) down to an entry without children.
const MenuEntry& DefaultLeaf(const MenuEntry& entry);
