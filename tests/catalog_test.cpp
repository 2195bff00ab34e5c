#include <gtest/gtest.h>

#include "convert/core/catalog.h"

namespace {

const CapabilityFlags kAllEncoders{true, true, true, true};

MenuEntry Menu(const std::string& path, const CapabilityFlags& caps = kAllEncoders) {
    return BuildTargetMenu({path}, caps);
}

// The labels of an entry's children, separated by spaces.
std::string Labels(const MenuEntry& entry) {
    std::string labels;
    for (const auto& child : entry.children) labels += (labels.empty() ? "" : " ") + child.label;
    return labels;
}

}  // namespace

TEST(Formats, TokensNamesAndKinds) {
    // Command-line tokens: either token in any case; the lowest number wins ("mp4" is MP4, not HEVC).
    const std::pair<const char*, int32_t> tokens[] = {{"Jpg", kJpg}, {"mp4", kMp4}, {"hevc", kHevc}, {"HEVC", kHevc},
                                                      {"m4a", kM4a}, {"ALAC", kAlac}, {"xyz", 0}, {"", 0}};
    for (auto [token, format] : tokens) EXPECT_EQ(FormatFromToken(token), format) << token;
    // Display tokens are unique and matched exactly, so the protocol can name a format by them.
    for (int32_t format = 1; format <= kFormatCount; ++format) EXPECT_EQ(FormatFromName(FormatName(format)), format);
    EXPECT_EQ(FormatFromName("png"), 0);
    EXPECT_EQ(AllExtensions().size(), 108u);
    for (const std::string& extension : AllExtensions()) EXPECT_NE(KindOfExtension(extension), kUnknownKind) << extension;
    EXPECT_EQ(KindOf("/photos/photo.JPG"), kImageKind);
    EXPECT_EQ(KindOf("/data.old/readme"), kUnknownKind);
}

TEST(Catalog, ImageAndVideoMenus) {
    MenuEntry png = Menu("/a/shot.png");
    ASSERT_EQ(Labels(png), "Image PDF");
    // The input's own format is dropped; JPG "Photo" always stays.
    EXPECT_EQ(Labels(png.children[0]), "JPG WEBP HEIC GIF TIFF BMP ICO More");
    EXPECT_EQ(png.children[0].children[0].sublabel, "Photo");
    EXPECT_EQ(Labels(Menu("/a/photo.jpg").children[0]).substr(0, 7), "PNG JPG");  // its own format, yet kept
    EXPECT_EQ(Labels(Menu("/a/scan.TIF").children[0]).find("TIFF"), std::string::npos);  // by its alias
    EXPECT_EQ(png.children[1].glyph, kGlyphDocument);  // a lone entry keeps its group's glyph
    EXPECT_EQ(png.children[0].children.back().sublabel, "7 formats");
    for (const char* input : {"/a/x.tga", "/a/x.svg", "/a/x.cur", "/a/x.wdp", "/a/x.pgm"})
        EXPECT_EQ(Menu(input).children[0].children.back().sublabel, "6 formats") << input;

    MenuEntry h264 = Menu("/a/clip.mp4").children[0].children[0];
    EXPECT_EQ(DefaultLeaf(h264).label, "720p");
    EXPECT_EQ(DefaultLeaf(h264).option, 720);
    MenuEntry original = Menu("/a/clip.mov").children[0].children[0];
    EXPECT_EQ(DefaultLeaf(original).label, "Original");
    original.defaultChild = 99;
    EXPECT_EQ(DefaultLeaf(original).label, "480p");  // clamped to the last

    CapabilityFlags none;
    MenuEntry video = Menu("/a/clip.mov", none);
    EXPECT_EQ(Labels(video.children[0]), "MP4 WMV 3GP GIF");
    EXPECT_EQ(Labels(video.children[1]), "MP3 M4A WAV WMA AAC AIFF");
    EXPECT_EQ(Labels(Menu("/a/shot.png", none).children[0]).find("HEIC"), std::string::npos);
}

TEST(Catalog, AudioAndDocumentMenus) {
    // A single group shows its entries directly; M4A is dropped for an .m4a, ALAC stays.
    EXPECT_EQ(Labels(Menu("/a/song.m4a")), "MP3 WAV FLAC ALAC WMA AAC AIFF");
    EXPECT_EQ(Labels(Menu("/a/deck.pptx")), "PDF DOCX ODT TXT MD HTML");
    EXPECT_EQ(Labels(Menu("/a/data.csv")), "PDF XLSX ODS TSV JSON HTML");  // no CSV "Table"
    EXPECT_EQ(Labels(Menu("/a/sheet.xlsm")), "PDF ODS CSV TSV JSON HTML");
    EXPECT_EQ(Labels(Menu("/a/notes.markdown")), "PDF DOCX ODT RTF TXT HTML EPUB");
    MenuEntry pdf = Menu("/a/paper.pdf");
    ASSERT_EQ(Labels(pdf), "Document Image");
    EXPECT_EQ(Labels(pdf.children[0]), "DOCX ODT RTF TXT MD HTML EPUB");
    EXPECT_EQ(pdf.children[0].children[0].sublabel, "Editable");
    EXPECT_TRUE(Menu("/a/archive.zip").children.empty());
    EXPECT_TRUE(BuildTargetMenu({}, kAllEncoders).children.empty());
    EXPECT_EQ(Labels(BuildTargetMenu({"/a/song.mp3", "/a/x.png"}, kAllEncoders)).substr(0, 3), "M4A");  // the first decides
}
