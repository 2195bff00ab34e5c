#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include "settings.h"
#include "support/test_support.h"

using testing_support::FileExists;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

// Points the settings at a fresh folder for the test's duration.
class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("XDG_CONFIG_HOME", config_.path().c_str(), 1);
        ::setenv("XDG_DATA_HOME", data_.path().c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("XDG_CONFIG_HOME");
        ::unsetenv("XDG_DATA_HOME");
    }
    std::string SettingsPath() const { return config_.File("quillaven/settings.ini"); }
    void Store(const std::string& lines) {
        ::mkdir(config_.File("quillaven").c_str(), 0700);
        WriteFile(SettingsPath(), lines);
    }

    TempDir config_;
    TempDir data_;
};

}  // namespace

TEST_F(SettingsTest, EmptyStoreGivesTheDefaults) {
    EXPECT_EQ(ReadLimits(), (LimitSettings{60, 70, 1536, 4096, 2, true, true}));
    EXPECT_TRUE(ReadDragGesture());
    EXPECT_FALSE(ReadCheckForUpdates());
    EXPECT_EQ(ReadLastUpdateCheck(), 0);
    EXPECT_TRUE(IsFirstRun());
    EXPECT_EQ(ReadLimits(), Preset(1));
}

TEST_F(SettingsTest, StoredValuesAreBoundedAsUnsignedNumbers) {
    Store("CpuPercent=3\nGpuPercent=150\nVramMB=-1\nRamMB=0\nParallelJobs=0\nGpuAcceleration=0\nLowPriority=7\n");
    EXPECT_EQ(ReadLimits(), (LimitSettings{5, 100, 1048576, 0, 1, false, true}));
    Store("CpuPercent=-5\nRamMB=5000000\nParallelJobs=9\n");
    LimitSettings limits = ReadLimits();
    EXPECT_EQ(limits.CpuPercent, 100);  // -5 read unsigned is huge
    EXPECT_EQ(limits.RamMB, 4194304);
    EXPECT_EQ(limits.ParallelJobs, 4);
    Store("ParallelJobs=-1\n");
    EXPECT_EQ(ReadLimits().ParallelJobs, 4);
}

TEST_F(SettingsTest, ValuesOfTheWrongTypeCountAsMissing) {
    Store("DragGesture=yes\nCpuPercent=12abc\nRamMB=99999999999\nCheckForUpdates=1\r\n");
    EXPECT_TRUE(ReadDragGesture());
    EXPECT_EQ(ReadLimits().CpuPercent, 60);
    EXPECT_EQ(ReadLimits().RamMB, 4096);
    EXPECT_TRUE(ReadCheckForUpdates());  // a Windows line end is still a value
}

TEST_F(SettingsTest, WritesReadBackAndKeepOtherValues) {
    WriteLimits(Preset(0));
    EXPECT_EQ(ReadLimits(), (LimitSettings{25, 35, 512, 1024, 1, true, true}));
    WriteDragGesture(false);
    WriteCheckForUpdates(true);
    WriteLastUpdateCheck(1767225600);
    MarkInitialized();
    EXPECT_FALSE(ReadDragGesture());
    EXPECT_TRUE(ReadCheckForUpdates());
    EXPECT_EQ(ReadLastUpdateCheck(), 1767225600);
    EXPECT_FALSE(IsFirstRun());
    EXPECT_EQ(ReadLimits(), Preset(0));
    WriteLimits(Preset(2));
    EXPECT_EQ(ReadLimits(), (LimitSettings{100, 100, 0, 0, 3, true, false}));
    EXPECT_EQ(Preset(7), Preset(1));
}

TEST_F(SettingsTest, ConcurrentWritersLoseNothing) {
    constexpr int kWriters = 6;
    constexpr int kValuesEach = 15;
    std::vector<pid_t> children;
    for (int w = 0; w < kWriters; ++w) {
        pid_t child = ::fork();
        if (child == 0) {
            for (int v = 0; v < kValuesEach; ++v) WriteLastUpdateCheck(v);  // contend on one name too
            // Each writer owns one value of its own: the limits are seven writes.
            WriteLimits(LimitSettings{5 + w, 70, 1536, 4096, 2, true, true});
            ::_exit(0);
        }
        children.push_back(child);
    }
    for (pid_t child : children) ::waitpid(child, nullptr, 0);
    std::string text = ReadFile(SettingsPath());
    for (const char* name : {"CpuPercent=", "GpuPercent=", "VramMB=", "RamMB=", "ParallelJobs=", "GpuAcceleration=",
                             "LowPriority=", "LastUpdateCheck=14"})
        EXPECT_NE(text.find(name), std::string::npos) << name << " missing from\n" << text;
    // One line per name: concurrent rewrites never duplicate or interleave lines.
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 8);
}

TEST_F(SettingsTest, AutostartEntryFollowsTheProgram) {
    EXPECT_FALSE(IsStartWithWindows());
    SetStartWithWindows(true);
    EXPECT_TRUE(IsStartWithWindows());
    std::string entry = ReadFile(config_.File("autostart/quillaven.desktop"));
    EXPECT_NE(entry.find("Exec=\""), std::string::npos);
    EXPECT_NE(entry.find("\" --background\n"), std::string::npos);

    WriteFile(config_.File("autostart/quillaven.desktop"), "[Desktop Entry]\nExec=\"/old/place/Quillaven\" --background\n");
    RefreshStartWithWindows();
    EXPECT_EQ(ReadFile(config_.File("autostart/quillaven.desktop")), entry);

    WriteFile(config_.File("autostart/quillaven.desktop"), "[Desktop Entry]\nName=Quillaven\n");
    EXPECT_FALSE(IsStartWithWindows());  // without an Exec line it starts nothing
    SetStartWithWindows(false);
    EXPECT_FALSE(FileExists(config_.File("autostart/quillaven.desktop")));
}

TEST_F(SettingsTest, RemoveAllLeavesNothingBehind) {
    std::string actions = data_.File("file-manager/actions");
    ASSERT_EQ(testing_support::RunCommand("mkdir -p " + actions + " " + data_.File("kio/servicemenus") + " " +
                                          data_.File("nautilus/scripts")).exitCode, 0);
    WriteFile(actions + "/quillaven-convert-png.desktop", "x");
    WriteFile(actions + "/quillaven-convert-docx.desktop", "x");
    WriteFile(actions + "/someone-else.desktop", "x");
    WriteFile(data_.File("kio/servicemenus/quillaven.desktop"), "x");
    WriteFile(data_.File("nautilus/scripts/Quillaven"), "x");
    WriteLimits(Preset(0));
    SetStartWithWindows(true);

    RemoveAll();
    EXPECT_EQ(testing_support::ListFolder(actions), "someone-else.desktop");
    EXPECT_FALSE(FileExists(data_.File("kio/servicemenus/quillaven.desktop")));
    EXPECT_FALSE(FileExists(data_.File("nautilus/scripts/Quillaven")));
    EXPECT_FALSE(IsStartWithWindows());
    EXPECT_FALSE(FileExists(config_.File("quillaven")));
    EXPECT_EQ(ReadLimits(), Preset(1));
}
