#include <gtest/gtest.h>

#include "convert/core/catalog.h"
#include "support/test_support.h"

// Debian's media library always carries the FLAC and ALAC encoders and x265, so a probe
// that finds none of them is broken (a wrong library name, a missed symbol). Loading the
// libraries at start-up instead would cost every worker tens of milliseconds.
TEST(Capabilities, ProbeFindsTheEncodersThatTheProgramDoesNotLink) {
    EXPECT_TRUE(Capabilities().flacEncoder && Capabilities().alacEncoder && Capabilities().hevcEncoder);
    REQUIRE_TOOL("readelf");
    auto needed = testing_support::RunCommand("readelf -d " + testing_support::ShellQuote(QUILL_PROGRAM));
    ASSERT_NE(needed.output.find("NEEDED"), std::string::npos) << needed.output;
    EXPECT_EQ(needed.output.find("libavcodec"), std::string::npos);
    EXPECT_EQ(needed.output.find("libheif"), std::string::npos);
}
