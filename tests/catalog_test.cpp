#include <gtest/gtest.h>

#include <set>

#include "convert/core/catalog.h"

namespace {

CapabilityFlags AllEncoders() { return CapabilityFlags{true, true, true, true}; }

MenuEntry Menu(const std::string& path, CapabilityFlags caps = AllEncoders()) {
    return BuildTargetMenu({path}, caps);
}

std::vector<std::string> Labels(const std::vector<MenuEntry>& entries) {
    std::vector<std::string> labels;
    for (const auto& entry : entries) labels.push_back(entry.label);
    return labels;
}

const MenuEntry& Child(const MenuEntry& entry, const std::string& label) {
    for (const auto& child : entry.children)
        if (child.label == label) return child;
    static MenuEntry missing;
    ADD_FAILURE() << "no entry " << label << " under " << entry.label;
    return missing;
}

}  // namespace

TEST(Formats, TokensAndNumbersAreStable) {
    EXPECT_EQ(FormatExtension(kHevc), "mp4");
    EXPECT_EQ(FormatName(kHevc), "HEVC");
    EXPECT_EQ(FormatExtension(kAlac), "m4a");
    EXPECT_EQ(FormatName(kTsv), "TSV");
    EXPECT_EQ(FormatExtension(0), "");
    EXPECT_EQ(FormatName(42), "?");
    // Display tokens are unique, so the protocol can name a format by them.
    std::set<std::string_view> names;
    for (int32_t format = 1; format <= kFormatCount; ++format) names.insert(FormatName(format));
    EXPECT_EQ(names.size(), static_cast<size_t>(kFormatCount));
}

TEST(Formats, CommandLineTokensMatchWithoutCaseAndLowestNumberWins) {
    EXPECT_EQ(FormatFromToken("JPG"), kJpg);
    EXPECT_EQ(FormatFromToken("Jpg"), kJpg);
    EXPECT_EQ(FormatFromToken("mp4"), kMp4);
    EXPECT_EQ(FormatFromToken("hevc"), kHevc);
    EXPECT_EQ(FormatFromToken("m4a"), kM4a);
    EXPECT_EQ(FormatFromToken("ALAC"), kAlac);
    EXPECT_EQ(FormatFromToken("md"), kMd);
    EXPECT_EQ(FormatFromToken("xyz"), 0);
    EXPECT_EQ(FormatFromToken(""), 0);
    for (int32_t format = 1; format <= kFormatCount; ++format)
        EXPECT_NE(FormatFromToken(FormatName(format)), 0) << FormatName(format);
}

TEST(Formats, ProtocolNamesMatchExactly) {
    EXPECT_EQ(FormatFromName("HEVC"), kHevc);
    EXPECT_EQ(FormatFromName("MP4"), kMp4);
    EXPECT_EQ(FormatFromName("png"), 0);
}

TEST(Kinds, ExtensionsDecideTheKind) {
    EXPECT_EQ(AllExtensions().size(), 108u);
    EXPECT_EQ(KindOf("/photos/photo.JPG"), kImageKind);
    EXPECT_EQ(KindOf("/a/archive.tar.gz"), kUnknownKind);
    EXPECT_EQ(KindOf("/data.old/readme"), kUnknownKind);
    EXPECT_EQ(KindOf("/a/clip.m2ts"), kVideoKind);
    EXPECT_EQ(KindOf("/a/song.weba"), kAudioKind);
    EXPECT_EQ(KindOf("/a/book.epub"), kDocumentKind);
    EXPECT_EQ(KindOf("/a/sheet.xlsm"), kSpreadsheetKind);
    EXPECT_EQ(KindOf("/a/deck.odp"), kPresentationKind);
    EXPECT_EQ(KindOf("/a/config.yml"), kTextKind);
    EXPECT_EQ(KindOf("/a/paper.pdf"), kPdfKind);
}

TEST(Catalog, ImageInputDropsItsOwnFormatButNeverJpgPhoto) {
    MenuEntry png = Menu("/a/shot.png");
    ASSERT_EQ(Labels(png.children), (std::vector<std::string>{"Image", "PDF"}));
    const MenuEntry& image = png.children[0];
    EXPECT_EQ(image.children.front().label, "JPG");
    EXPECT_EQ(image.children.front().sublabel, "Photo");
    EXPECT_EQ(Labels(image.children),
              (std::vector<std::string>{"JPG", "WEBP", "HEIC", "GIF", "TIFF", "BMP", "ICO", "More"}));

    MenuEntry jpeg = Menu("/a/photo.jpeg");
    EXPECT_EQ(Labels(jpeg.children[0].children)[1], "JPG");  // after PNG, never filtered
    MenuEntry tif = Menu("/a/scan.TIF");
    for (const auto& entry : tif.children[0].children) EXPECT_NE(entry.label, "TIFF");
}

TEST(Catalog, JpgPhotoOffersThreeQualities) {
    MenuEntry png = Menu("/a/shot.png");
    const MenuEntry& jpg = Child(png.children[0], "JPG");
    EXPECT_EQ(jpg.option, 92);
    ASSERT_EQ(jpg.children.size(), 3u);
    EXPECT_EQ(jpg.children[1].label, "Balanced");
    EXPECT_EQ(jpg.children[1].option, 80);
    EXPECT_EQ(jpg.children[1].suffix, "medium");
    EXPECT_EQ(jpg.children[2].suffix, "small");
    EXPECT_EQ(&DefaultLeaf(jpg), &jpg.children[0]);
}

TEST(Catalog, MoreCountsItsFormats) {
    MenuEntry png = Menu("/a/shot.png");
    EXPECT_EQ(Child(png.children[0], "More").sublabel, "7 formats");
    for (const char* input : {"/a/x.tga", "/a/x.qoi", "/a/x.svg", "/a/x.dds", "/a/x.cur", "/a/x.jxr", "/a/x.wdp",
                              "/a/x.pgm", "/a/x.pam", "/a/x.ppm"}) {
        MenuEntry menu = Menu(input);
        EXPECT_EQ(Child(menu.children[0], "More").sublabel, "6 formats") << input;
    }
}

TEST(Catalog, LoneDocumentEntryKeepsTheGroupGlyph) {
    MenuEntry png = Menu("/a/shot.png");
    const MenuEntry& pdf = png.children[1];
    EXPECT_EQ(pdf.format, kPdf);
    EXPECT_EQ(pdf.sublabel, "Document");
    EXPECT_EQ(pdf.glyph, kGlyphDocument);
}

TEST(Catalog, MissingEncodersRemoveTheirEntries) {
    CapabilityFlags none;
    MenuEntry video = Menu("/a/clip.mov", none);
    EXPECT_EQ(Labels(video.children[0].children), (std::vector<std::string>{"MP4", "WMV", "3GP", "GIF"}));
    EXPECT_EQ(Labels(video.children[1].children), (std::vector<std::string>{"MP3", "M4A", "WAV", "WMA", "AAC", "AIFF"}));
    for (const auto& entry : Menu("/a/shot.png", none).children[0].children) EXPECT_NE(entry.label, "HEIC");
}

TEST(Catalog, VideoResolutionDefaultsDependOnTheInput) {
    MenuEntry mp4 = Menu("/a/clip.mp4");
    const MenuEntry& h264 = mp4.children[0].children[0];
    EXPECT_EQ(h264.sublabel, "H.264");
    EXPECT_EQ(DefaultLeaf(h264).label, "720p");
    EXPECT_EQ(DefaultLeaf(h264).suffix, "720p");
    EXPECT_EQ(DefaultLeaf(h264).option, 720);
    // HEVC is offered even for an MP4, which shares its extension.
    EXPECT_EQ(mp4.children[0].children[1].label, "HEVC");
    EXPECT_EQ(DefaultLeaf(Menu("/a/clip.mov").children[0].children[0]).label, "Original");

    MenuEntry mov = Menu("/a/clip.mov");
    const MenuEntry& frames = mov.children[2];
    EXPECT_EQ(Labels(frames.children), (std::vector<std::string>{"PNG", "JPG"}));
    EXPECT_EQ(frames.children[0].option, -1);
    EXPECT_EQ(frames.children[0].children[0].suffix, "frames");
    EXPECT_EQ(frames.children[0].children[1].option, 10);
    const MenuEntry& gif = Child(mov.children[0], "GIF");
    EXPECT_EQ(gif.children[2].suffix, "large");
    EXPECT_EQ(gif.children[2].option, 640);
}

TEST(Catalog, AudioInputsShowTheirListDirectly) {
    MenuEntry mp3 = Menu("/a/song.mp3");
    EXPECT_EQ(mp3.children.front().label, "M4A");
    EXPECT_EQ(mp3.children.front().sublabel, "AAC");
    EXPECT_EQ(mp3.children.front().children[1].label, "128k");
    MenuEntry m4a = Menu("/a/song.m4a");
    std::vector<std::string> labels = Labels(m4a.children);
    EXPECT_EQ(std::count(labels.begin(), labels.end(), "M4A"), 0);
    EXPECT_EQ(std::count(labels.begin(), labels.end(), "ALAC"), 1);
    EXPECT_EQ(Labels(Menu("/a/a.aif").children).back(), "AAC");  // AIFF filtered by its alias
    MenuEntry wav = Menu("/a/song.wav");
    const MenuEntry& mp3Entry = wav.children[0];
    EXPECT_EQ(mp3Entry.option, 192);
    EXPECT_EQ(Labels(mp3Entry.children), (std::vector<std::string>{"192k", "320k", "128k"}));
}

TEST(Catalog, DocumentFamilies) {
    EXPECT_EQ(Labels(Menu("/a/deck.pptx").children),
              (std::vector<std::string>{"PDF", "DOCX", "ODT", "TXT", "MD", "HTML"}));
    EXPECT_EQ(Menu("/a/deck.pptx").children[0].sublabel, "Handout");
    EXPECT_EQ(Labels(Menu("/a/data.csv").children),
              (std::vector<std::string>{"PDF", "XLSX", "ODS", "TSV", "JSON", "HTML"}));
    EXPECT_EQ(Labels(Menu("/a/data.json").children),
              (std::vector<std::string>{"PDF", "CSV", "XLSX", "TSV", "TXT", "HTML"}));
    EXPECT_EQ(Labels(Menu("/a/sheet.xlsm").children),
              (std::vector<std::string>{"PDF", "ODS", "CSV", "TSV", "JSON", "HTML"}));
    EXPECT_EQ(Labels(Menu("/a/notes.markdown").children),
              (std::vector<std::string>{"PDF", "DOCX", "ODT", "RTF", "TXT", "HTML", "EPUB"}));
    EXPECT_EQ(Labels(Menu("/a/page.htm").children),
              (std::vector<std::string>{"PDF", "DOCX", "ODT", "RTF", "TXT", "MD", "EPUB"}));
    EXPECT_EQ(Labels(Menu("/a/letter.docm").children),
              (std::vector<std::string>{"PDF", "ODT", "RTF", "TXT", "MD", "HTML", "EPUB"}));
}

TEST(Catalog, PdfOffersEditableWordAndPages) {
    MenuEntry pdf = Menu("/a/paper.pdf");
    ASSERT_EQ(Labels(pdf.children), (std::vector<std::string>{"Document", "Image"}));
    EXPECT_EQ(pdf.children[0].children.front().label, "DOCX");
    EXPECT_EQ(pdf.children[0].children.front().sublabel, "Editable");
    EXPECT_EQ(pdf.children[0].children.size(), 7u);
    EXPECT_EQ(pdf.children[1].children[1].sublabel, "Pages");
}

TEST(Catalog, UnknownOrNoInputGivesNothing) {
    EXPECT_TRUE(Menu("/a/archive.zip").children.empty());
    EXPECT_TRUE(BuildTargetMenu({}, AllEncoders()).children.empty());
    // Only the first input decides.
    EXPECT_EQ(BuildTargetMenu({"/a/song.mp3", "/a/shot.png"}, AllEncoders()).children.front().label, "M4A");
}

TEST(Catalog, DefaultLeafClampsAnOutOfRangeChoice) {
    MenuEntry entry = Menu("/a/clip.mov").children[0].children[0];
    entry.defaultChild = 99;
    EXPECT_EQ(DefaultLeaf(entry).label, "480p");
}
