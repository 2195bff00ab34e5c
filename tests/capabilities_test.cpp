#include <gtest/gtest.h>

#include <dlfcn.h>

#include "convert/core/catalog.h"

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

TEST(Capabilities, MediaLibrariesAreNotLoadedUntilProbed) {
    // Loading them at start-up would cost every worker tens of milliseconds.
    EXPECT_EQ(::dlopen("libavcodec.so.59", RTLD_NOLOAD | RTLD_LAZY), nullptr);
}
