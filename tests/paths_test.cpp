#include <gtest/gtest.h>
#include <sys/stat.h>

#include "convert/core/errors.h"
#include "convert/core/paths.h"
#include "support/test_support.h"

using namespace testing_support;

TEST(Paths, NamePartsComeFromTheLastComponent) {
    EXPECT_EQ(ExtensionOf("/photos/a.JPG") + "|" + ExtensionOf("/data.old/readme"), "jpg|");
    EXPECT_EQ(StemOf("/a/report.final.docx") + "|" + StemOf("/home/u/.profile"), "report.final|.profile");
    EXPECT_EQ(JoinPath(FolderOf("/c.txt"), "c.png"), "/c.png");  // outputs of a file in the root stay in the root
    EXPECT_EQ(OutputStem("/a/Holiday.jpg", "small") + "|" + OutputStem("/a/Holiday.jpg", ""), "Holiday small|Holiday");
}

TEST(OutputNaming, AnyEntryBlocksANameAndNumbersStopAt9999) {
    TempDir dir;
    EXPECT_EQ(OutputFilePath(dir.path(), "Holiday", "png"), dir.File("Holiday.png"));
    ASSERT_EQ(::mkdir(dir.File("Holiday.png").c_str(), 0700), 0);
    ASSERT_EQ(::symlink("/nonexistent/target", dir.File("Holiday (2).png").c_str()), 0);  // dangling
    EXPECT_EQ(OutputFilePath(dir.path(), "Holiday", "png"), dir.File("Holiday (3).png"));
    EXPECT_EQ(OutputFolderPath(dir.path(), "Holiday.png"), dir.File("Holiday.png (2)"));

    WriteFile(dir.File("a.txt"), "");
    for (int n = 2; n <= 9998; ++n) WriteFile(dir.File("a (" + std::to_string(n) + ").txt"), "");
    EXPECT_EQ(OutputFilePath(dir.path(), "a", "txt"), dir.File("a (9999).txt"));
    WriteFile(dir.File("a (9999).txt"), "");
    try {
        OutputFilePath(dir.path(), "a", "txt");
        ADD_FAILURE() << "expected a failure";
    } catch (const ConvertError& error) {
        EXPECT_EQ(error.message, "Too many files with this name in the folder");
    }
}
