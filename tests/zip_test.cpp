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

const std::string kNotValid = "This isn't a valid document";
const std::string kCorrupted = "The document is corrupted";

void Put16(std::string& out, uint32_t value) {
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>((value >> 8) & 0xFF));
}
void Put32(std::string& out, uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}
uint32_t Get16(std::string_view bytes, size_t at) {
    return static_cast<uint8_t>(bytes[at]) | static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 1])) << 8;
}
uint32_t Get32(std::string_view bytes, size_t at) { return Get16(bytes, at) | Get16(bytes, at + 2) << 16; }

// One entry of a hand-made archive; the sizes default to the payload's.
struct Item {
    std::string name;
    std::string payload;  // as stored: raw bytes, or a deflate stream for method 8
    uint16_t method = 0;
    int64_t declaredSize = -1;        // uncompressed size in the central directory
    int64_t compressedSize = -1;      // compressed size in the central directory
    std::string localExtra = "";      // extra field of the local header only
};

struct Built {
    std::string bytes;
    std::vector<size_t> localHeaders;
    size_t directory = 0;
    size_t endRecord = 0;
};

Built BuildArchive(const std::vector<Item>& items, std::string_view comment = "") {
    Built built;
    std::string& out = built.bytes;
    for (const auto& item : items) {
        built.localHeaders.push_back(out.size());
        Put32(out, 0x04034b50);  // local header signature
        Put16(out, 20);          // version needed
        Put16(out, 0);           // flags
        Put16(out, item.method);
        Put16(out, 0);  // time
        Put16(out, 0);  // date
        Put32(out, Crc32(item.payload));
        Put32(out, static_cast<uint32_t>(item.payload.size()));
        Put32(out, static_cast<uint32_t>(item.payload.size()));
        Put16(out, static_cast<uint32_t>(item.name.size()));
        Put16(out, static_cast<uint32_t>(item.localExtra.size()));
        out += item.name + item.localExtra + item.payload;
    }
    built.directory = out.size();
    for (size_t i = 0; i < items.size(); ++i) {
        const Item& item = items[i];
        Put32(out, 0x02014b50);  // central header signature
        Put16(out, 20);          // made by
        Put16(out, 20);          // needed
        Put16(out, 0);           // flags
        Put16(out, item.method);
        Put16(out, 0);  // time
        Put16(out, 0);  // date
        Put32(out, 0);  // CRC (never checked)
        Put32(out, static_cast<uint32_t>(item.compressedSize >= 0 ? item.compressedSize : item.payload.size()));
        Put32(out, static_cast<uint32_t>(item.declaredSize >= 0 ? item.declaredSize : item.payload.size()));
        Put16(out, static_cast<uint32_t>(item.name.size()));
        Put16(out, 4);  // extra length
        Put16(out, 3);  // comment length
        Put16(out, 0);  // disk
        Put16(out, 0);  // internal attributes
        Put32(out, 0);  // external attributes
        Put32(out, static_cast<uint32_t>(built.localHeaders[i]));
        out += item.name + "EXTR" + "cmt";
    }
    built.endRecord = out.size();
    Put32(out, 0x06054b50);  // end record signature
    Put16(out, 0);           // this disk
    Put16(out, 0);           // directory disk
    Put16(out, static_cast<uint32_t>(items.size()));
    Put16(out, static_cast<uint32_t>(items.size()));
    Put32(out, static_cast<uint32_t>(out.size() - 4 - built.directory));
    Put32(out, static_cast<uint32_t>(built.directory));
    Put16(out, static_cast<uint32_t>(comment.size()));
    out += comment;
    return built;
}

std::string OpenError(std::string bytes) {
    try {
        OpenZipBytes(std::move(bytes));
    } catch (const ConvertError& error) {
        return error.message;
    }
    return "";
}

std::string OpenPathError(const std::string& path, HRESULT* code = nullptr) {
    try {
        OpenZip(path);
    } catch (const ConvertError& error) {
        if (code) *code = error.code;
        return error.message;
    }
    return "";
}

std::string Read(const ZipArchive& archive, std::string_view name) {
    std::string out;
    EXPECT_TRUE(ReadEntry(archive, name, out)) << name;
    return out;
}

}  // namespace

TEST(Crc32, MatchesTheStandardCheckValues) {
    EXPECT_EQ(Crc32(std::string_view("abc")), 0x352441C2u);
    EXPECT_EQ(Crc32(std::string_view("")), 0u);
    EXPECT_EQ(Crc32(std::string_view("123456789")), 0xCBF43926u);
}

TEST(ZipOpen, ShortFilesAndTheEmptyArchive) {
    std::string empty = BuildArchive({}).bytes;
    ASSERT_EQ(empty.size(), 22u);
    ZipArchive archive = OpenZipBytes(empty);
    EXPECT_TRUE(archive.entries.empty());
    EXPECT_EQ(OpenError(empty.substr(1)), kNotValid);  // 21 bytes
    EXPECT_EQ(OpenError(""), kNotValid);
    EXPECT_EQ(OpenError(std::string(100, 'P')), kNotValid);  // no end record anywhere
}

TEST(ZipOpen, TheEndRecordIsFoundBehindTheLongestComment) {
    Built longest = BuildArchive({{"a.txt", "hello"}}, std::string(65535, 'c'));
    ZipArchive archive = OpenZipBytes(longest.bytes);
    EXPECT_EQ(Read(archive, "a.txt"), "hello");
    // One byte more between the record and the end is beyond the search.
    EXPECT_EQ(OpenError(longest.bytes + "c"), kNotValid);
    // The search stops at the start of the file: an end record at offset 0 is found.
    std::string atStart = BuildArchive({}, std::string(65535, 'c')).bytes;
    EXPECT_TRUE(OpenZipBytes(atStart).entries.empty());
}

TEST(ZipOpen, ReadsTheCentralDirectory) {
    std::string deflated = ZlibDeflate("some text some text some text", 9);
    Built built = BuildArchive({{"mimetype", "application/test"},
                                {"dir/x.xml", deflated, 8, 29, -1, "LOCALEXTRA"},
                                {"b", "", 0}});
    ZipArchive archive = OpenZipBytes(built.bytes);
    ASSERT_EQ(archive.entries.size(), 3u);
    EXPECT_EQ(archive.entries[0].name, "mimetype");
    EXPECT_EQ(archive.entries[1].name, "dir/x.xml");
    EXPECT_EQ(archive.entries[1].method, 8);
    EXPECT_EQ(archive.entries[1].compressedSize, deflated.size());
    EXPECT_EQ(archive.entries[1].uncompressedSize, 29u);
    EXPECT_EQ(archive.entries[1].localHeaderOffset, built.localHeaders[1]);
    EXPECT_EQ(archive.entries[2].name, "b");
    EXPECT_EQ(Read(archive, "mimetype"), "application/test");
    EXPECT_EQ(Read(archive, "dir/x.xml"), "some text some text some text");  // after the local extra field
    EXPECT_EQ(Read(archive, "b"), "");
}

TEST(ZipOpen, ADamagedCentralDirectoryIsCorrupted) {
    Built built = BuildArchive({{"one", "1"}, {"two", "2"}});
    std::string badSignature = built.bytes;
    badSignature[built.directory] = 'X';
    EXPECT_EQ(OpenError(badSignature), kCorrupted);

    std::string secondBad = built.bytes;  // the second record: 46 + 3 + 4 + 3 bytes on
    secondBad[built.directory + 56] = 'X';
    EXPECT_EQ(OpenError(secondBad), kCorrupted);

    std::string moreEntries = built.bytes;  // claims 3 entries: the third would be the end record
    moreEntries[built.endRecord + 10] = 3;
    EXPECT_EQ(OpenError(moreEntries), kCorrupted);

    std::string farOffset = built.bytes;  // directory offset past the end
    farOffset[built.endRecord + 19] = 0x7F;
    EXPECT_EQ(OpenError(farOffset), kCorrupted);

    // A name that runs past the end of the file.
    Built single = BuildArchive({{"name", "x"}});
    std::string longName = single.bytes;
    longName[single.directory + 28] = static_cast<char>(0xFF);
    longName[single.directory + 29] = static_cast<char>(0xFF);
    EXPECT_EQ(OpenError(longName), kCorrupted);
}

TEST(ZipOpen, TheEntryCountIsTheTotalField) {
    // The entries-on-this-disk field is not what counts.
    Built built = BuildArchive({{"one", "1"}});
    built.bytes[built.endRecord + 8] = 9;
    EXPECT_EQ(OpenZipBytes(built.bytes).entries.size(), 1u);
    built.bytes[built.endRecord + 10] = 0;
    EXPECT_TRUE(OpenZipBytes(built.bytes).entries.empty());
}

TEST(ZipRead, NamesMatchExactlyAndTheFirstOfTwoWins) {
    ZipArchive archive = OpenZipBytes(BuildArchive({{"Content.xml", "first"}, {"Content.xml", "second"}}).bytes);
    EXPECT_TRUE(HasEntry(archive, "Content.xml"));
    EXPECT_FALSE(HasEntry(archive, "content.xml"));
    EXPECT_FALSE(HasEntry(archive, "Content.xml "));
    EXPECT_FALSE(HasEntry(archive, "Content"));
    EXPECT_EQ(Read(archive, "Content.xml"), "first");
    std::string out = "left over";
    EXPECT_FALSE(ReadEntry(archive, "content.xml", out));
    EXPECT_EQ(out, "");
}

TEST(ZipRead, StoredBytesAreTheEntryWhateverSizeIsDeclared) {
    ZipArchive archive = OpenZipBytes(
        BuildArchive({{"bigger", "exact bytes", 0, 5}, {"smaller", "exact bytes", 0, 4000000000}}).bytes);
    EXPECT_EQ(Read(archive, "bigger"), "exact bytes");
    EXPECT_EQ(Read(archive, "smaller"), "exact bytes");
}

TEST(ZipRead, UnreadableEntriesAreFalse) {
    Built built = BuildArchive({{"good", "data"},
                                {"method12", "data", 12},
                                {"toolong", "data", 0, -1, 1000},
                                {"badlocal", "data"},
                                {"farlocal", "data"}});
    std::string bytes = built.bytes;
    bytes[built.localHeaders[3]] = 'X';  // local signature damaged
    // Central record of "farlocal": point its local header past the end.
    size_t record = built.directory;
    for (int i = 0; i < 4; ++i) record += 46 + Get16(bytes, record + 28) + 4 + 3;
    bytes[record + 45] = 0x70;
    ZipArchive archive = OpenZipBytes(bytes);
    std::string out;
    EXPECT_TRUE(ReadEntry(archive, "good", out));
    for (const char* name : {"method12", "toolong", "badlocal", "farlocal", "missing"}) {
        EXPECT_FALSE(ReadEntry(archive, name, out)) << name;
        EXPECT_TRUE(HasEntry(archive, name) || std::string(name) == "missing");
    }
    try {
        ReadEntryOrFail(archive, "method12", "This Word file is damaged");
        FAIL() << "no error";
    } catch (const ConvertError& error) {
        EXPECT_EQ(error.message, "This Word file is damaged");
        EXPECT_EQ(error.code, E_FAIL);
    }
    EXPECT_EQ(ReadEntryOrFail(archive, "good", "unused"), "data");
}

TEST(ZipRead, DataEndingExactlyAtTheFileEndIsRead) {
    // An archive cut right after the entry's data still has that data: the directory
    // below is taken from a whole copy.
    Built built = BuildArchive({{"last", "tail"}});
    ZipArchive archive = OpenZipBytes(built.bytes);
    ZipEntry& entry = archive.entries[0];
    entry.compressedSize = static_cast<uint32_t>(archive.data.size() - built.localHeaders[0] - 30 - 4);
    std::string out;
    EXPECT_TRUE(ReadEntry(archive, "last", out));
    entry.compressedSize += 1;
    EXPECT_FALSE(ReadEntry(archive, "last", out));
}

TEST(ZipRead, InflateErrorsAreThrown) {
    ZipArchive archive = OpenZipBytes(BuildArchive({{"bad", "\x07", 8}, {"cut", ZlibDeflate("abcdefgh", 9).substr(0, 3), 8}}).bytes);
    std::string out;
    try {
        ReadEntry(archive, "bad", out);
        FAIL() << "no error";
    } catch (const ConvertError& error) {
        EXPECT_EQ(error.message, kCorrupted);
    }
    try {
        ReadEntry(archive, "cut", out);
        FAIL() << "no error";
    } catch (const ConvertError& error) {
        EXPECT_EQ(error.message, "The document is truncated");
    }
}

TEST(ZipRead, ALyingSizeDoesNotReserveMoreThan64MiB) {
    ZipArchive archive = OpenZipBytes(BuildArchive({{"liar", ZlibDeflate("tiny", 6), 8, 0xFFFFFFFF}}).bytes);
    std::string out;
    ASSERT_TRUE(ReadEntry(archive, "liar", out));
    EXPECT_EQ(out, "tiny");
    EXPECT_LE(out.capacity(), size_t{0x4000000} + 4096);
}

TEST(ZipRead, ABombStopsAt256MiB) {
    // One dynamic block: length 258 has the code 0, the zero byte 10 and end-of-block 11;
    // distance 1 is the only distance (code 0). 257 MiB of zeros take 2 bits per 258 bytes.
    std::vector<unsigned> litLen(286, 0);
    litLen[0] = 2;
    litLen[256] = 2;
    litLen[285] = 1;
    BitWriter w;
    w.DynamicHeader(true, litLen, {1});
    w.Code(0b10, 2);
    for (size_t left = (size_t{257} << 20) - 1; left >= 258; left -= 258) w.Code(0b00, 2);
    w.Code(0b11, 2);
    std::string stream = w.Take();
    EXPECT_LT(stream.size(), 300000u);
    ZipArchive archive = OpenZipBytes(BuildArchive({{"word/document.xml", stream, 8, 1000}}).bytes);
    std::string out;
    try {
        ReadEntry(archive, "word/document.xml", out);
        FAIL() << "no error";
    } catch (const ConvertError& error) {
        EXPECT_EQ(error.message, "This document expands to an unreasonable size");
    }
}

TEST(ZipOpenFile, FileErrors) {
    TempDir dir;
    HRESULT code = 0;
    EXPECT_EQ(OpenPathError(dir.File("missing.docx"), &code), "Couldn't open the document");
    EXPECT_EQ(static_cast<uint32_t>(code), 0x80070002u);  // no such file
    EXPECT_EQ(OpenPathError(dir.path()), "Couldn't read the document");  // a folder opens but cannot be read

    // One byte over 512 MiB, made sparse so that nothing is written or read.
    std::string big = dir.File("big.docx");
    int fd = ::open(big.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 0x20000001), 0);
    ::close(fd);
    EXPECT_EQ(OpenPathError(big), "This document is too large to convert");

    std::string small = dir.File("short.docx");
    WriteFile(small, "PK\x05\x06");
    EXPECT_EQ(OpenPathError(small), kNotValid);
}

TEST(ZipOpenFile, ReadsAnArchiveFromDisk) {
    TempDir dir;
    std::string path = dir.File("a.zip");
    std::string payload = MakeRandom(300000, 5);
    WriteFile(path, BuildArchive({{"data.bin", payload}}).bytes);
    ZipArchive archive = OpenZip(path);
    EXPECT_TRUE(Read(archive, "data.bin") == payload);
}

TEST(ZipWriter, MimetypeComesFirstStoredAndReadsBack) {
    TempDir dir;
    std::string path = dir.File("book.epub");
    std::string content = MakeXml(20000, 3);
    ZipWriter writer;
    AddEntry(writer, "mimetype", "application/epub+zip");
    AddEntry(writer, "OEBPS/content.xhtml", content);
    FinishZip(writer, path);

    std::string bytes = ReadFile(path);
    EXPECT_EQ(Get32(bytes, 0), 0x04034b50u);  // local header signature
    EXPECT_EQ(Get16(bytes, 6), 0x0800u);      // flags: UTF-8 names
    EXPECT_EQ(Get16(bytes, 8), 0u);           // method: stored
    EXPECT_EQ(Get16(bytes, 12), 0x0021u);     // date: 1 January 1980
    EXPECT_EQ(Get32(bytes, 14), Crc32(std::string_view("application/epub+zip")));
    EXPECT_EQ(Get16(bytes, 26), 8u);  // name length
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
            CommandResult listing = RunCommand("unzip -Z1 " + ShellQuote(path));
            ASSERT_EQ(listing.exitCode, 0) << path;
            std::string names;
            for (const auto& entry : archive.entries) names += entry.name + "\n";
            EXPECT_EQ(names, listing.output) << path;

            TempDir out;
            CommandResult extract = RunCommand("unzip -qq -o " + ShellQuote(path) + " -d " + ShellQuote(out.path()));
            ASSERT_EQ(extract.exitCode, 0) << path << extract.output;
            for (const auto& entry : archive.entries) {
                if (entry.name.ends_with("/")) continue;
                std::string ours;
                ASSERT_TRUE(ReadEntry(archive, entry.name, ours)) << path << " " << entry.name;
                ASSERT_TRUE(ours == ReadFile(out.File(entry.name))) << path << " " << entry.name;
                ++compared;
            }
        }
    }
    EXPECT_EQ(archives, 43u + 26u + 9u + 4u);
    EXPECT_GT(compared, 500u);
}
