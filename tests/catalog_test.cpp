#include <gtest/gtest.h>

#include "convert/core/catalog.h"

namespace {

const CapabilityFlags kAllEncoders{true, true, true, true};

MenuEntry Menu(const std::string& path, const CapabilityFlags& caps = kAllEncoders) { return BuildTargetMenu({path}, caps); }

// The labels of an entry's children, separated by spaces.
std::string Labels(const MenuEntry& entry) {
    std::string labels;
    for (const auto& child : entry.children) labels += (labels.empty() ? "" : " ") + child.label;
    return labels;
}

}  // namespace

TEST(Formats, TokensNamesAndKinds) {
    // Command-line tokens: either token in any case; the lowest number wins ("mp4" is MP4, not HEVC).
    const std::pair<const char*, int32_t> tokens[] = {{"JPG", kJpg}, {"Jpg", kJpg}, {"mp4", kMp4}, {"hevc", kHevc},
                                                      {"HEVC", kHevc}, {"m4a", kM4a}, {"ALAC", kAlac}, {"md", kMd},
                                                      {"xyz", 0}, {"", 0}};
    for (auto [token, format] : tokens) EXPECT_EQ(FormatFromToken(token), format) << token;
    // Display tokens are unique and matched exactly, so the protocol can name a format by them.
    for (int32_t format = 1; format <= kFormatCount; ++format) EXPECT_EQ(FormatFromName(FormatName(format)), format);
    EXPECT_EQ(FormatFromName("png"), 0);
    EXPECT_EQ(FormatExtension(kHevc), "mp4");
    EXPECT_EQ(FormatName(42), "?");

    EXPECT_EQ(AllExtensions().size(), 108u);
    for (const std::string& extension : AllExtensions()) EXPECT_NE(KindOfExtension(extension), kUnknownKind) << extension;
    const std::pair<const char*, FileKind> kinds[] = {
        {"/photos/photo.JPG", kImageKind}, {"/a/archive.tar.gz", kUnknownKind}, {"/data.old/readme", kUnknownKind},
        {"/a/clip.m2ts", kVideoKind},      {"/a/song.weba", kAudioKind},        {"/a/sheet.xlsm", kSpreadsheetKind},
        {"/a/deck.odp", kPresentationKind}, {"/a/config.yml", kTextKind},       {"/a/paper.pdf", kPdfKind}};
    for (auto [path, kind] : kinds) EXPECT_EQ(KindOf(path), kind) << path;
}

TEST(Catalog, ImageMenus) {
    MenuEntry png = Menu("/a/shot.png");
    ASSERT_EQ(Labels(png), "Image PDF");
    // The input's own format is dropped; JPG "Photo" always stays.
    EXPECT_EQ(Labels(png.children[0]), "JPG WEBP HEIC GIF TIFF BMP ICO More");
    const MenuEntry& jpg = png.children[0].children[0];
    EXPECT_EQ(jpg.sublabel, "Photo");
    EXPECT_EQ(Labels(jpg), "High Balanced Small");
    EXPECT_EQ(jpg.children[1].option, 80);
    EXPECT_EQ(jpg.children[1].suffix, "medium");
    EXPECT_EQ(&DefaultLeaf(jpg), &jpg.children[0]);
    EXPECT_EQ(Labels(Menu("/a/photo.jpeg").children[0]).substr(0, 7), "PNG JPG");
    EXPECT_EQ(Labels(Menu("/a/scan.TIF").children[0]).find("TIFF"), std::string::npos);  // by its alias
    // The lone document entry keeps its group's glyph.
    EXPECT_EQ(png.children[1].format, kPdf);
    EXPECT_EQ(png.children[1].sublabel, "Document");
    EXPECT_EQ(png.children[1].glyph, kGlyphDocument);
    EXPECT_EQ(png.children[0].children.back().sublabel, "7 formats");
    for (const char* input : {"/a/x.tga", "/a/x.qoi", "/a/x.svg", "/a/x.dds", "/a/x.cur", "/a/x.wdp", "/a/x.pgm", "/a/x.pam"})
        EXPECT_EQ(Menu(input).children[0].children.back().sublabel, "6 formats") << input;
}

TEST(Catalog, VideoAndAudioMenus) {
    MenuEntry mp4 = Menu("/a/clip.mp4");
    const MenuEntry& h264 = mp4.children[0].children[0];
    EXPECT_EQ(h264.sublabel, "H.264");
    EXPECT_EQ(DefaultLeaf(h264).label, "720p");
    EXPECT_EQ(DefaultLeaf(h264).suffix, "720p");
    EXPECT_EQ(DefaultLeaf(h264).option, 720);
    EXPECT_EQ(mp4.children[0].children[1].label, "HEVC");  // offered though it shares the extension
    MenuEntry mov = Menu("/a/clip.mov");
    MenuEntry original = mov.children[0].children[0];
    EXPECT_EQ(DefaultLeaf(original).label, "Original");
    original.defaultChild = 99;
    EXPECT_EQ(DefaultLeaf(original).label, "480p");  // clamped to the last
    EXPECT_EQ(Labels(mov.children[2]), "PNG JPG");
    EXPECT_EQ(mov.children[2].children[0].option, -1);
    EXPECT_EQ(mov.children[2].children[0].children[0].suffix, "frames");

    MenuEntry mp3 = Menu("/a/song.mp3");  // one group: its entries are shown directly
    EXPECT_EQ(mp3.children.front().label, "M4A");
    EXPECT_EQ(mp3.children.front().sublabel, "AAC");
    std::string m4a = Labels(Menu("/a/song.m4a"));
    EXPECT_EQ(m4a.find("M4A"), std::string::npos);
    EXPECT_NE(m4a.find("ALAC"), std::string::npos);
    EXPECT_EQ(Labels(Menu("/a/song.wav").children[0]), "192k 320k 128k");

    CapabilityFlags none;
    MenuEntry video = Menu("/a/clip.mov", none);
    EXPECT_EQ(Labels(video.children[0]), "MP4 WMV 3GP GIF");
    EXPECT_EQ(Labels(video.children[1]), "MP3 M4A WAV WMA AAC AIFF");
    EXPECT_EQ(Labels(Menu("/a/shot.png", none).children[0]).find("HEIC"), std::string::npos);
}

TEST(Catalog, DocumentMenus) {
    EXPECT_EQ(Labels(Menu("/a/deck.pptx")), "PDF DOCX ODT TXT MD HTML");
    EXPECT_EQ(Menu("/a/deck.pptx").children[0].sublabel, "Handout");
    EXPECT_EQ(Labels(Menu("/a/data.csv")), "PDF XLSX ODS TSV JSON HTML");  // no CSV "Table"
    EXPECT_EQ(Labels(Menu("/a/data.json")), "PDF CSV XLSX TSV TXT HTML");
    EXPECT_EQ(Labels(Menu("/a/sheet.xlsm")), "PDF ODS CSV TSV JSON HTML");
    EXPECT_EQ(Labels(Menu("/a/notes.markdown")), "PDF DOCX ODT RTF TXT HTML EPUB");
    EXPECT_EQ(Labels(Menu("/a/letter.docm")), "PDF ODT RTF TXT MD HTML EPUB");
    MenuEntry pdf = Menu("/a/paper.pdf");
    ASSERT_EQ(Labels(pdf), "Document Image");
    EXPECT_EQ(Labels(pdf.children[0]), "DOCX ODT RTF TXT MD HTML EPUB");
    EXPECT_EQ(pdf.children[0].children[0].sublabel, "Editable");
    EXPECT_EQ(pdf.children[1].children[1].sublabel, "Pages");
    EXPECT_TRUE(Menu("/a/archive.zip").children.empty());
    EXPECT_TRUE(BuildTargetMenu({}, kAllEncoders).children.empty());
    EXPECT_EQ(Labels(BuildTargetMenu({"/a/song.mp3", "/a/shot.png"}, kAllEncoders)).substr(0, 3), "M4A");  // the first decides
}
