#include <gtest/gtest.h>

#include "convert/core/output_guard.h"
#include "support/test_support.h"

using namespace testing_support;

TEST(OutputFileGuard, RemovesAnUnfinishedOutputAndKeepsAFinishedOne) {
    TempDir dir;
    WriteFile(dir.File("partial.mp4"), "half");
    WriteFile(dir.File("done.mp4"), "whole");
    {
        OutputFileGuard partial(dir.File("partial.mp4"));
        OutputFileGuard done(dir.File("done.mp4"));
        done.keep = true;
    }
    EXPECT_EQ(ListFolder(dir.path()), "done.mp4");
}
