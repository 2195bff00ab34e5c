#include <gtest/gtest.h>

#include "convert/core/catalog.h"
#include "support/test_support.h"

// Debian's media library always carries the FLAC and ALAC encoders and x265, so a
// probe that finds none of them is broken (a wrong library name, a missed symbol).
TEST(Capabilities, ProbeFindsTheInstalledEncoders) {
    const CapabilityFlags& flags = Capabilities();
    EXPECT_TRUE(flags.flacEncoder);
    EXPECT_TRUE(flags.alacEncoder);
    EXPECT_TRUE(flags.hevcEncoder);
    if (!flags.hevcEncoder) {
        EXPECT_FALSE(flags.heifEncoder);
    }
    EXPECT_EQ(&Capabilities(), &flags);  // probed once
}

TEST(Capabilities, MediaLibrariesAreNotLinkedIntoTheProgram) {
    // Loading them at start-up would cost every worker tens of milliseconds.
    REQUIRE_TOOL("readelf");
    auto needed = testing_support::RunCommand("readelf -d " + testing_support::ShellQuote(QUILL_PROGRAM));
    ASSERT_EQ(needed.exitCode, 0);
    EXPECT_NE(needed.output.find("NEEDED"), std::string::npos);
    EXPECT_EQ(needed.output.find("libavcodec"), std::string::npos);
    EXPECT_EQ(needed.output.find("libheif"), std::string::npos);
}
