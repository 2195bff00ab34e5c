#include <gtest/gtest.h>

#include "convert/core/paths.h"

TEST(Paths, NamePartsComeFromTheLastComponent) {
    EXPECT_EQ(ExtensionOf("/photos/a.JPG") + "|" + ExtensionOf("/data.old/readme"), "jpg|");
    EXPECT_EQ(StemOf("/a/report.final.docx") + "|" + StemOf("/home/u/.profile"), "report.final|.profile");
    EXPECT_EQ(JoinPath(FolderOf("/c.txt"), "c.png"), "/c.png");  // outputs of a file in the root stay in the root
    EXPECT_EQ(OutputStem("/a/Holiday.jpg", "small") + "|" + OutputStem("/a/Holiday.jpg", ""), "Holiday small|Holiday");
}
