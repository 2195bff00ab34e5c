#include <gtest/gtest.h>

#include <sys/stat.h>

#include "convert/core/dispatch.h"
#include "convert/core/errors.h"
#include "support/test_support.h"

using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

std::string FailureOf(const std::string& path, int32_t format = kPng) {
    ConvertContext context;
    try {
        ConvertFile(path, Target{format, 0, ""}, context);
    } catch (const ConvertError& error) {
        return error.message;
    }
    return "no failure";
}

}  // namespace

TEST(ValidateInput, OnlyAbsoluteLocalRegularFiles) {
    TempDir dir;
    WriteFile(dir.File("a.png"), "x");
    EXPECT_NO_THROW(ValidateInput(dir.File("a.png")));
    EXPECT_EQ(FailureOf("a.png"), "Only files on this PC can be converted");
    EXPECT_EQ(FailureOf("smb://server/share/a.png"), "Only files on this PC can be converted");
    EXPECT_EQ(FailureOf(""), "Only files on this PC can be converted");
    EXPECT_EQ(FailureOf(dir.File("line\nbreak.png")), "That isn't a normal file path");
    EXPECT_EQ(FailureOf(dir.File("gone.png")), "The file no longer exists");
    EXPECT_EQ(FailureOf(dir.path()), "That isn't a file");
    EXPECT_EQ(FailureOf("/dev/null"), "That isn't a file");
    ASSERT_EQ(::mkfifo(dir.File("pipe.txt").c_str(), 0600), 0);
    EXPECT_EQ(FailureOf(dir.File("pipe.txt")), "That isn't a file");
}

TEST(ConvertFile, UnknownTypesAreRefusedAfterTheChecks) {
    TempDir dir;
    WriteFile(dir.File("notes"), "x");
    WriteFile(dir.File("archive.zip"), "x");
    EXPECT_EQ(FailureOf(dir.File("notes")), "Quillaven doesn't know this file type");
    EXPECT_EQ(FailureOf(dir.File("archive.zip")), "Quillaven doesn't know this file type");
}
