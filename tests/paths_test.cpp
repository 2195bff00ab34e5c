#include <gtest/gtest.h>

#include "convert/core/paths.h"

TEST(Paths, ExtensionIsLowerCasedAndOnlyFromTheFileName) {
    EXPECT_EQ(ExtensionOf("/photos/a.JPG"), "jpg");
    EXPECT_EQ(ExtensionOf("/data.old/readme"), "");
    EXPECT_EQ(ExtensionOf("/a/archive.tar.gz"), "gz");
}
