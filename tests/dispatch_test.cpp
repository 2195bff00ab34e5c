#include <gtest/gtest.h>
#include <sys/stat.h>

#include "convert/core/dispatch.h"
#include "convert/core/errors.h"
#include "support/test_support.h"

TEST(ConvertFile, InputsAreCheckedBeforeTheirType) {
    testing_support::TempDir dir;
    for (const char* name : {"a.png", "notes", "archive.zip"}) testing_support::WriteFile(dir.File(name), "x");
    ASSERT_EQ(::mkfifo(dir.File("pipe.txt").c_str(), 0600), 0);
    EXPECT_NO_THROW(ValidateInput(dir.File("a.png")));
    const std::pair<std::string, std::string> cases[] = {
        {"a.png", "Only files on this PC can be converted"}, {"", "Only files on this PC can be converted"},
        {"smb://server/share/a.png", "Only files on this PC can be converted"},
        {dir.File("line\nbreak.png"), "That isn't a normal file path"}, {dir.File("gone.png"), "The file no longer exists"},
        {dir.path(), "That isn't a file"}, {"/dev/null", "That isn't a file"}, {dir.File("pipe.txt"), "That isn't a file"},
        {dir.File("notes"), "Quillaven doesn't know this file type"},
        {dir.File("archive.zip"), "Quillaven doesn't know this file type"},
    };
    for (const auto& [path, message] : cases) {
        ConvertContext context;
        try {
            ConvertFile(path, Target{kPng, 0, ""}, context);
            ADD_FAILURE() << path << " was accepted";
        } catch (const ConvertError& error) {
            EXPECT_EQ(error.message, message) << path;
        }
    }
}
