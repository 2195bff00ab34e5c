#include <gtest/gtest.h>

#include <random>

#include "convert/documents/zip.h"
#include "support/test_support.h"

using namespace testing_support;

TEST(ZipCrc, KnownValues) {
    EXPECT_EQ(Crc32(std::string_view("")), 0u);
    EXPECT_EQ(Crc32(std::string_view("abc")), 0x352441C2u);
    EXPECT_EQ(Crc32(std::string_view("123456789")), 0xCBF43926u);
}

TEST(ZipCrc, MatchesPythonOnEveryLengthAndAlignment) {
    REQUIRE_TOOL("/usr/bin/python3");
    // Lengths around the eight-byte steps, read from odd offsets, checked against zlib.
    std::mt19937 generator(7);
    std::string bytes(300, '\0');
    for (auto& byte : bytes) byte = static_cast<char>(generator());
    TempDir folder;
    WriteFile(folder.File("bytes"), bytes);
    std::string expected;
    std::string ours;
    for (size_t offset : {0u, 1u, 3u, 7u}) {
        for (size_t length : {0u, 1u, 7u, 8u, 9u, 15u, 16u, 17u, 63u, 64u, 65u, 255u}) {
            ours += std::to_string(Crc32(std::string_view(bytes).substr(offset, length))) + "\n";
            expected += RunCommand("/usr/bin/python3 -c \"import sys, zlib; d = open(sys.argv[1], 'rb').read(); "
                                   "print(zlib.crc32(d[" + std::to_string(offset) + ":" +
                                   std::to_string(offset + length) + "]))\" " + ShellQuote(folder.File("bytes")))
                            .output;
        }
    }
    EXPECT_EQ(ours, expected);
}
