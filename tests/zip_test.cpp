#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "convert/core/errors.h"
#include "convert/documents/zip.h"
#include "support/deflate_builder.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

void Put(std::string& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}
uint32_t Get(std::string_view bytes, size_t at, int count) {
    uint32_t value = 0;
    for (int i = count; i-- > 0;) value = value << 8 | static_cast<uint8_t>(bytes[at + static_cast<size_t>(i)]);
    return value;
}

// One entry of a hand-made archive.
struct Item {
    std::string name;
    std::string payload;  // as stored: raw bytes, or a deflate stream for method 8
    uint16_t method = 0;
    int64_t declaredSize = -1;  // uncompressed size in the central directory; -1: the payload's
    std::string localExtra = "";
};

struct Built {
    std::string bytes;
    size_t directory = 0;  // offset of the central directory
    size_t endRecord = 0;
};

Built BuildArchive(const std::vector<Item>& items, std::string_view comment = "") {
    Built built;
    std::string& out = built.bytes;
    std::vector<size_t> local;
    for (const auto& item : items) {
        local.push_back(out.size());
        Put(out, 0x04034b50, 4);  // signature
        Put(out, 20, 2);          // version needed
        Put(out, 0, 2);           // flags
        Put(out, item.method, 2);
        Put(out, 0, 4);  // time and date
        Put(out, Crc32(item.payload), 4);
        Put(out, static_cast<uint32_t>(item.payload.size()), 4);  // compressed size
        Put(out, static_cast<uint32_t>(item.payload.size()), 4);  // uncompressed size
        Put(out, static_cast<uint32_t>(item.name.size()), 2);
        Put(out, static_cast<uint32_t>(item.localExtra.size()), 2);
        out += item.name + item.localExtra + item.payload;
    }
    built.directory = out.size();
    for (size_t i = 0; i < items.size(); ++i) {
        const Item& item = items[i];
        Put(out, 0x02014b50, 4);  // signature
        Put(out, 20, 2);          // made by
        Put(out, 20, 2);          // needed
        Put(out, 0, 2);           // flags
        Put(out, item.method, 2);
        Put(out, 0, 4);  // time and date
        Put(out, 0, 4);  // CRC: never checked
        Put(out, static_cast<uint32_t>(item.payload.size()), 4);
        Put(out, static_cast<uint32_t>(item.declaredSize >= 0 ? item.declaredSize : item.payload.size()), 4);
        Put(out, static_cast<uint32_t>(item.name.size()), 2);
        Put(out, 4, 2);  // extra length
        Put(out, 3, 2);  // comment length
        Put(out, 0, 8);  // disk, internal and external attributes
        Put(out, static_cast<uint32_t>(local[i]), 4);
        out += item.name + "XTRA" + "cmt";
    }
    built.endRecord = out.size();
    Put(out, 0x06054b50, 4);  // signature
    Put(out, 0, 4);           // disk numbers
    Put(out, static_cast<uint32_t>(items.size()), 2);  // entries on this disk
    Put(out, static_cast<uint32_t>(items.size()), 2);  // total entries
    Put(out, static_cast<uint32_t>(built.endRecord - built.directory), 4);
    Put(out, static_cast<uint32_t>(built.directory), 4);
    Put(out, static_cast<uint32_t>(comment.size()), 2);
    out += comment;
    return built;
}

template <typename F>
std::string ErrorOf(F&& run) {
    try {
        run();
    } catch (const ConvertError& error) {
        return error.message;
    }
    return "";
}
std::string OpenError(const std::string& bytes) {
    return ErrorOf([&] { OpenZipBytes(bytes); });
}

std::string Read(const ZipArchive& archive, std::string_view name) {
    std::string out;
    EXPECT_TRUE(ReadEntry(archive, name, out)) << name;
    return out;
}

}  // namespace

TEST(Crc32, MatchesTheStandardCheckValues) {
    EXPECT_EQ(Crc32(std::string_view("abc")), 0x352441C2u);
    EXPECT_EQ(Crc32(std::string_view("123456789")), 0xCBF43926u);
    EXPECT_EQ(Crc32(std::string_view("")), 0u);
}

TEST(ZipOpen, FindsTheEndRecord) {
    std::string empty = BuildArchive({}).bytes;
    ASSERT_EQ(empty.size(), 22u);
    EXPECT_TRUE(OpenZipBytes(empty).entries.empty());
    EXPECT_EQ(OpenError(empty.substr(1)), "This isn't a valid document");  // 21 bytes
    EXPECT_EQ(OpenError(std::string(1000, 'P')), "This isn't a valid document");

    Built commented = BuildArchive({{"a.txt", "hello"}}, std::string(65535, 'c'));
    EXPECT_EQ(Read(OpenZipBytes(commented.bytes), "a.txt"), "hello");
    EXPECT_EQ(OpenError(commented.bytes + "c"), "This isn't a valid document");  // one byte too far back
    // The search stops at the start of the file, where this end record is.
    EXPECT_TRUE(OpenZipBytes(BuildArchive({}, std::string(65535, 'c')).bytes).entries.empty());
}

TEST(ZipOpen, IndexesTheCentralDirectory) {
    std::string deflated = ZlibDeflate("some text some text", 9);
    Built built = BuildArchive({{"mimetype", "application/test"}, {"dir/x.xml", deflated, 8, 19, "LOCALEXTRA"}, {"b", ""}});
    ZipArchive archive = OpenZipBytes(built.bytes);
    ASSERT_EQ(archive.entries.size(), 3u);
    const ZipEntry& entry = archive.entries[1];
    EXPECT_EQ(entry.name, "dir/x.xml");
    EXPECT_EQ(entry.method, 8);
    EXPECT_EQ(entry.compressedSize, deflated.size());
    EXPECT_EQ(entry.uncompressedSize, 19u);
    EXPECT_EQ(entry.localHeaderOffset, 30u + 8 + 16);
    EXPECT_EQ(Read(archive, "dir/x.xml"), "some text some text");  // after the local extra field
    EXPECT_EQ(Read(archive, "b"), "");
    // Only the total-entries field counts.
    built.bytes[built.endRecord + 8] = 9;
    built.bytes[built.endRecord + 10] = 1;
    EXPECT_EQ(OpenZipBytes(built.bytes).entries.size(), 1u);
}

TEST(ZipOpen, ADamagedCentralDirectoryIsCorrupted) {
    Built built = BuildArchive({{"one", "1"}, {"two", "2"}});
    const size_t second = built.directory + 46 + 3 + 4 + 3;
    const std::pair<size_t, char> damages[] = {
        {built.directory, 'X'},       // first record's signature
        {second, 'X'},                // second record's signature
        {built.endRecord + 10, 3},    // three entries claimed: the third would be the end record
        {built.endRecord + 19, 0x7F}, // directory offset far past the end
        {second + 29, 0x7F},          // second name runs past the end of the file
    };
    for (const auto& [at, value] : damages) {
        std::string bytes = built.bytes;
        bytes[at] = value;
        EXPECT_EQ(OpenError(bytes), "The document is corrupted") << "byte " << at;
    }
}

TEST(ZipRead, NamesMatchExactlyAndTheFirstOfTwoWins) {
    ZipArchive archive = OpenZipBytes(BuildArchive({{"Content.xml", "first"}, {"Content.xml", "second"}}).bytes);
    EXPECT_TRUE(HasEntry(archive, "Content.xml"));
    EXPECT_FALSE(HasEntry(archive, "content.xml"));
    EXPECT_FALSE(HasEntry(archive, "Content"));
    EXPECT_EQ(Read(archive, "Content.xml"), "first");
    std::string out = "left over";
    EXPECT_FALSE(ReadEntry(archive, "content.xml", out));
    EXPECT_EQ(out, "");
}

TEST(ZipRead, StoredBytesAreTheEntryWhateverSizeIsDeclared) {
    ZipArchive archive = OpenZipBytes(BuildArchive({{"less", "exact bytes", 0, 5}, {"more", "exact bytes", 0, 4000000000}}).bytes);
    EXPECT_EQ(Read(archive, "less"), "exact bytes");
    EXPECT_EQ(Read(archive, "more"), "exact bytes");
}

TEST(ZipRead, UnreadableEntriesAreFalseAndInflateErrorsAreThrown) {
    Built built = BuildArchive({{"good", "data"}, {"method12", "data", 12}, {"badlocal", "data"}, {"cut", "\x07", 8}});
    built.bytes[30 + 4 + 4 + 30 + 8 + 4] = 'X';  // local signature of "badlocal"
    ZipArchive archive = OpenZipBytes(built.bytes);
    ZipArchive beyond = archive;
    beyond.entries[0].compressedSize = static_cast<uint32_t>(beyond.data.size() - 30 - 4 + 1);  // data runs past the end
    beyond.entries[1].localHeaderOffset = static_cast<uint32_t>(beyond.data.size() - 29);        // header runs past the end
    beyond.entries[1].method = 0;
    std::string out;
    EXPECT_FALSE(ReadEntry(archive, "method12", out));
    EXPECT_FALSE(ReadEntry(archive, "badlocal", out));
    EXPECT_FALSE(ReadEntry(archive, "missing", out));
    EXPECT_FALSE(ReadEntry(beyond, "good", out));
    EXPECT_FALSE(ReadEntry(beyond, "method12", out));
    beyond.entries[0].compressedSize -= 1;  // now ending exactly at the end of the file
    EXPECT_TRUE(ReadEntry(beyond, "good", out));

    EXPECT_EQ(ErrorOf([&] { ReadEntryOrFail(archive, "badlocal", "This Word file is damaged"); }), "This Word file is damaged");
    EXPECT_EQ(ReadEntryOrFail(archive, "good", "unused"), "data");
    EXPECT_EQ(ErrorOf([&] { ReadEntry(archive, "cut", out); }), "The document is corrupted");
}

TEST(ZipRead, ALyingSizeCostsNoMemoryAndABombStopsAt256MiB) {
    ZipArchive liar = OpenZipBytes(BuildArchive({{"liar", ZlibDeflate("tiny", 6), 8, 0xFFFFFFFF}}).bytes);
    std::string out;
    ASSERT_TRUE(ReadEntry(liar, "liar", out));
    EXPECT_EQ(out, "tiny");
    EXPECT_LT(out.capacity(), size_t{1} << 20);  // and what was set aside for it is handed back

    // One dynamic block: length 258 has the code 0, the zero byte 10 and end-of-block 11;
    // distance 1 is the only distance (code 0). 257 MiB take 2 bits per 258 bytes.
    std::vector<unsigned> litLen(286, 0);
    litLen[0] = litLen[256] = 2;
    litLen[285] = 1;
    BitWriter w;
    w.DynamicHeader(true, litLen, {1});
    w.Code(0b10, 2);
    for (size_t left = (size_t{257} << 20) - 1; left >= 258; left -= 258) w.Code(0b00, 2);
    w.Code(0b11, 2);
    std::string bomb = w.Take();
    EXPECT_LT(bomb.size(), 300000u);
    ZipArchive archive = OpenZipBytes(BuildArchive({{"word/document.xml", bomb, 8, 1000}}).bytes);
    EXPECT_EQ(ErrorOf([&] { ReadEntry(archive, "word/document.xml", out); }), "This document expands to an unreasonable size");
}

TEST(ZipOpenFile, ReportsFileErrors) {
    TempDir dir;
    HRESULT code = 0;
    try {
        OpenZip(dir.File("missing.docx"));
    } catch (const ConvertError& error) {
        EXPECT_EQ(error.message, "Couldn't open the document");
        code = error.code;
    }
    EXPECT_EQ(static_cast<uint32_t>(code), 0x80070002u);  // no such file
    EXPECT_EQ(ErrorOf([&] { OpenZip(dir.path()); }), "Couldn't read the document");  // a folder opens but won't read

    std::string big = dir.File("big.docx");  // one byte over 512 MiB, sparse: nothing is read
    int fd = ::open(big.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_EQ(::ftruncate(fd, 0x20000001), 0);
    ::close(fd);
    EXPECT_EQ(ErrorOf([&] { OpenZip(big); }), "This document is too large to convert");
}

TEST(ZipWriter, MimetypeComesFirstStoredAndReadsBack) {
    TempDir dir;
    std::string path = dir.File("book.epub");
    std::string content = MakeRandom(300000, 3);  // more than one read may bring
    ZipWriter writer;
    AddEntry(writer, "mimetype", "application/epub+zip");
    AddEntry(writer, "OEBPS/content.xhtml", content);
    FinishZip(writer, path);

    std::string bytes = ReadFile(path);
    EXPECT_EQ(Get(bytes, 0, 4), 0x04034b50u);  // local header signature
    EXPECT_EQ(Get(bytes, 6, 2), 0x0800u);      // flags: UTF-8 names
    EXPECT_EQ(Get(bytes, 8, 2), 0u);           // method: stored
    EXPECT_EQ(Get(bytes, 12, 2), 0x0021u);     // date: 1 January 1980
    EXPECT_EQ(bytes.substr(30, 8 + 20), "mimetypeapplication/epub+zip");
    ZipArchive archive = OpenZip(path);
    ASSERT_EQ(archive.entries.size(), 2u);
    EXPECT_EQ(archive.entries[0].name, "mimetype");
    EXPECT_EQ(Read(archive, "mimetype"), "application/epub+zip");
    EXPECT_TRUE(Read(archive, "OEBPS/content.xhtml") == content);

    REQUIRE_TOOL("unzip");
    CommandResult test = RunCommand("unzip -t " + ShellQuote(path));
    EXPECT_EQ(test.exitCode, 0) << test.output;
    EXPECT_NE(test.output.find("No errors detected"), std::string::npos) << test.output;
}

TEST(ZipRealPackages, EveryEntryMatchesWhatUnzipExtracts) {
    REQUIRE_TOOL("unzip");
    size_t archives = 0, compared = 0;
    for (const char* folder : {"docx", "odt", "pptx", "epub"}) {
        for (const auto& file : std::filesystem::directory_iterator(DataPath(std::string("corpus/documents/") + folder))) {
            const std::string path = file.path().string();
            ZipArchive archive = OpenZip(path);
            ++archives;
            std::string names;
            for (const auto& entry : archive.entries) names += entry.name + "\n";
            EXPECT_EQ(names, RunCommand("unzip -Z1 " + ShellQuote(path)).output) << path;
            TempDir out;
            CommandResult extract = RunCommand("unzip -qq " + ShellQuote(path) + " -d " + ShellQuote(out.path()));
            ASSERT_EQ(extract.exitCode, 0) << path << extract.output;
            for (const auto& entry : archive.entries) {
                if (entry.name.ends_with("/")) continue;
                ASSERT_TRUE(Read(archive, entry.name) == ReadFile(out.File(entry.name))) << path << " " << entry.name;
                ++compared;
            }
        }
    }
    EXPECT_EQ(archives, 43u + 26u + 9u + 4u);
    EXPECT_GT(compared, 500u);
}
