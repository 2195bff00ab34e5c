#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <filesystem>
#include <future>

#include "platform/log.h"
#include "settings.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

// Points the settings at fresh folders for the test's duration.
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
    void Store(const std::string& lines) {
        ::mkdir(config_.File("quillaven").c_str(), 0700);
        WriteFile(config_.File("quillaven/settings.ini"), lines);
    }
    std::string Autostart() const { return config_.File("autostart/quillaven.desktop"); }

    TempDir config_;
    TempDir data_;
};

}  // namespace

TEST_F(SettingsTest, DefaultsPresetsAndWrittenValues) {
    EXPECT_EQ(ReadLimits(), (LimitSettings{60, 70, 1536, 4096, 2, true, true}));
    EXPECT_EQ(ReadLimits(), Preset(1));
    EXPECT_EQ(Preset(7), Preset(1));
    EXPECT_EQ(Preset(2), (LimitSettings{100, 100, 0, 0, 3, true, false}));
    EXPECT_TRUE(ReadDragGesture() && !ReadCheckForUpdates() && ReadLastUpdateCheck() == 0 && IsFirstRun());
    WriteLimits(Preset(0));
    WriteDragGesture(false);
    WriteCheckForUpdates(true);
    WriteLastUpdateCheck(1767225600);
    MarkInitialized();
    EXPECT_TRUE(!ReadDragGesture() && ReadCheckForUpdates() && !IsFirstRun());
    EXPECT_EQ(ReadLastUpdateCheck(), 1767225600);
    EXPECT_EQ(ReadLimits(), (LimitSettings{25, 35, 512, 1024, 1, true, true}));  // kept by the other writes
}

TEST_F(SettingsTest, StoredValuesAreBoundedUnsignedAndOfTheirType) {
    Store("CpuPercent=3\nGpuPercent=150\nVramMB=-1\nRamMB=0\nParallelJobs=0\nGpuAcceleration=0\nLowPriority=7\n");
    EXPECT_EQ(ReadLimits(), (LimitSettings{5, 100, 1048576, 0, 1, false, true}));
    Store("CpuPercent=-5\nRamMB=5000000\nParallelJobs=-1\n");  // read unsigned, -5 is huge
    EXPECT_EQ(ReadLimits(), (LimitSettings{100, 70, 1536, 4194304, 4, true, true}));
    // A value of the wrong type counts as missing; a Windows line end is still a value.
    Store("DragGesture=yes\nCpuPercent=12abc\nRamMB=99999999999\nCheckForUpdates=1\r\n");
    EXPECT_TRUE(ReadDragGesture());
    EXPECT_EQ(ReadLimits(), Preset(1));
    EXPECT_TRUE(ReadCheckForUpdates());
}

TEST_F(SettingsTest, ConcurrentWritersLoseNothing) {
    std::vector<pid_t> children;
    for (int writer = 0; writer < 6; ++writer) {
        pid_t child = ::fork();
        if (child == 0) {
            for (int value = 0; value < 15; ++value) WriteLastUpdateCheck(value);  // all contend on one name
            WriteLimits(LimitSettings{5 + writer, 70, 1536, 4096, 2, true, true});  // seven more writes each
            ::_exit(0);
        }
        children.push_back(child);
    }
    for (pid_t child : children) ::waitpid(child, nullptr, 0);
    std::string text = ReadFile(config_.File("quillaven/settings.ini"));
    for (const char* name : {"CpuPercent=", "GpuPercent=", "VramMB=", "RamMB=", "ParallelJobs=", "GpuAcceleration=",
                             "LowPriority=", "LastUpdateCheck=14"})
        EXPECT_NE(text.find(name), std::string::npos) << name << " missing from\n" << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 8);  // no duplicated or interleaved lines
}

TEST_F(SettingsTest, AutostartEntryFollowsTheProgram) {
    EXPECT_FALSE(IsStartWithWindows());
    SetStartWithWindows(true);
    EXPECT_TRUE(IsStartWithWindows());
    std::string entry = ReadFile(Autostart());
    EXPECT_NE(entry.find("Exec=\""), std::string::npos);
    EXPECT_NE(entry.find("\" --background\n"), std::string::npos);
    WriteFile(Autostart(), "[Desktop Entry]\nExec=\"/old/place/Quillaven\" --background\n");
    RefreshStartWithWindows();
    EXPECT_EQ(ReadFile(Autostart()), entry);
    WriteFile(Autostart(), "[Desktop Entry]\nName=Quillaven\n");
    EXPECT_FALSE(IsStartWithWindows());  // without an Exec line it starts nothing
    SetStartWithWindows(false);
    EXPECT_FALSE(FileExists(Autostart()));
}

TEST_F(SettingsTest, RemoveAllLeavesNothingBehind) {
    std::string actions = data_.File("file-manager/actions");
    for (const std::string& folder : {actions, data_.File("kio/servicemenus"), data_.File("nautilus/scripts")})
        std::filesystem::create_directories(folder);
    std::vector<std::string> ours{actions + "/quillaven-convert-png.desktop",
                                  data_.File("kio/servicemenus/quillaven.desktop"), data_.File("nautilus/scripts/Quillaven"),
                                  config_.File("quillaven")};
    for (const std::string& file : {ours[0], ours[1], ours[2], actions + "/someone-else.desktop"}) WriteFile(file, "x");
    WriteLimits(Preset(0));
    SetStartWithWindows(true);
    RemoveAll();
    EXPECT_EQ(ListFolder(actions), "someone-else.desktop");
    for (const std::string& file : ours) EXPECT_FALSE(FileExists(file)) << file;
    EXPECT_FALSE(IsStartWithWindows());
}

namespace {
std::vector<std::string> g_logged;
void KeepLogged(std::string_view text) { g_logged.emplace_back(text); }
}  // namespace

TEST_F(SettingsTest, HandWrittenNumbers) {
    Store("RamMB = 64\nCpuPercent=+30\n  VramMB\t=\t512  \nParallelJobs=+-3\nGpuPercent=+\nLowPriority = 0\r\n");
    EXPECT_EQ(ReadLimits(), (LimitSettings{30, 70, 512, 64, 2, true, false}));
    WriteDragGesture(false);  // a rewrite keeps them, as the values they are
    EXPECT_EQ(ReadLimits(), (LimitSettings{30, 70, 512, 64, 2, true, false}));
    WriteLimits(Preset(0));  // and replaces them, spaces or not, without leaving a second line
    std::string text = ReadFile(config_.File("quillaven/settings.ini"));
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 8) << text;  // seven limits and DragGesture
    EXPECT_EQ(ReadLimits(), Preset(0));
}

TEST_F(SettingsTest, FifoLinkAndFolderInPlaceOfTheFile) {
    std::string file = config_.File("quillaven/settings.ini");
    ::mkdir(config_.File("quillaven").c_str(), 0700);
    // A FIFO: read at once as no settings (not waiting for a writer that never comes).
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    auto read = std::async(std::launch::async, [] { return ReadLimits(); });
    ASSERT_EQ(read.wait_for(std::chrono::seconds(5)), std::future_status::ready) << "reading a FIFO blocked";
    EXPECT_EQ(read.get(), Preset(1));
    ::unlink(file.c_str());

    // A link to a file kept elsewhere: written through, and it stays a link.
    ::mkdir(config_.File("dotfiles").c_str(), 0700);
    WriteFile(config_.File("dotfiles/quillaven.ini"), "CheckForUpdates=1\n");
    ASSERT_EQ(::symlink("../dotfiles/quillaven.ini", file.c_str()), 0);
    WriteLimits(Preset(0));
    struct stat info {};
    ASSERT_EQ(::lstat(file.c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_EQ(ReadLimits(), Preset(0));
    EXPECT_TRUE(ReadCheckForUpdates());
    EXPECT_EQ(ListFolder(config_.File("dotfiles")), "quillaven.ini");
    ::unlink(file.c_str());

    // A folder: the write fails, and says so in the log.
    ASSERT_EQ(::mkdir(file.c_str(), 0700), 0);
    g_logged.clear();
    LogSink previous = SetLogSink(KeepLogged);
    WriteLimits(Preset(2));
    SetLogSink(previous);
    ASSERT_EQ(g_logged.size(), 1u);
    EXPECT_EQ(g_logged[0].substr(0, 31 + file.size()), "Couldn't save the settings in " + file + ":") << g_logged[0];
    EXPECT_EQ(ReadLimits(), Preset(1));
    EXPECT_EQ(ListFolder(config_.File("quillaven")), "settings.ini|settings.ini.lock");
}
