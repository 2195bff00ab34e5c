#include <gtest/gtest.h>

#include <unistd.h>

#include "command_line.h"
#include "support/test_support.h"

using testing_support::DataPath;
using testing_support::FileExists;
using testing_support::RunCommand;
using testing_support::ShellQuote;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

// Runs the program with the settings pointed at a private folder.
testing_support::CommandResult Quillaven(const TempDir& config, const std::string& arguments,
                                         const std::string& folder = "/") {
    return RunCommand("cd " + ShellQuote(folder) + " && XDG_CONFIG_HOME=" + ShellQuote(config.path()) +
                      " XDG_DATA_HOME=" + ShellQuote(config.path()) + " " + ShellQuote(QUILL_PROGRAM) + " " +
                      arguments);
}

}  // namespace

TEST(OptionNumber, ReadsLeadingDigitsLikeTheClassicConversion) {
    EXPECT_EQ(ParseOptionNumber("720"), 720);
    EXPECT_EQ(ParseOptionNumber("abc"), 0);
    EXPECT_EQ(ParseOptionNumber(""), 0);
    EXPECT_EQ(ParseOptionNumber("  -1frames"), -1);
    EXPECT_EQ(ParseOptionNumber("+65"), 65);
    EXPECT_EQ(ParseOptionNumber("- 5"), 0);
    EXPECT_EQ(ParseOptionNumber("99999999999"), 2147483647);
    EXPECT_EQ(ParseOptionNumber("-99999999999"), -2147483648LL);
}

TEST(FullPath, RelativeArgumentsBecomeAbsolute) {
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(FullPathOf("a.docx"), std::string(cwd) + "/a.docx");
    EXPECT_EQ(FullPathOf("/x/./y/../a.docx"), "/x/a.docx");
    EXPECT_EQ(FullPathOf(""), "");
}

TEST(CommandLine, UsageAndUnknownFormatsExitWithTwo) {
    TempDir config;
    auto tooFew = Quillaven(config, "--convert /tmp/a.docx");
    EXPECT_EQ(tooFew.exitCode, 2);
    EXPECT_EQ(tooFew.output, "usage: Quillaven --convert <file> <format> [option]\n");
    auto unknown = Quillaven(config, "--convert /tmp/a.docx xyz");
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_EQ(unknown.output, "unknown format: xyz\n");
    // The switches only count in first place; without a mode this build has no host yet.
    EXPECT_EQ(Quillaven(config, "--background --convert a b").exitCode, 2);
}

TEST(CommandLine, ConvertsAndPrintsTheFullOutputPath) {
    TempDir config;
    TempDir work;
    ASSERT_EQ(RunCommand("cp " + ShellQuote(DataPath("corpus/documents/docx/docx-headers.docx")) + " " +
                         ShellQuote(work.path()))
                  .exitCode,
              0);
    auto first = Quillaven(config, "--convert docx-headers.docx Odt", work.path());
    EXPECT_EQ(first.exitCode, 0) << first.output;
    EXPECT_EQ(first.output, work.File("docx-headers.odt") + "\n");
    auto second = Quillaven(config, "--convert docx-headers.docx ODT 720", work.path());
    EXPECT_EQ(second.output, work.File("docx-headers (2).odt") + "\n");
}

TEST(CommandLine, FailuresPrintTheReasonAndExitWithOne) {
    TempDir config;
    TempDir work;
    WriteFile(work.File("broken.docx"), "not a zip at all, but long enough to look");
    auto broken = Quillaven(config, "--convert " + ShellQuote(work.File("broken.docx")) + " pdf");
    EXPECT_EQ(broken.exitCode, 1);
    EXPECT_EQ(broken.output, "error: This isn't a valid document\n");
    auto missing = Quillaven(config, "--convert " + ShellQuote(work.File("gone.docx")) + " pdf");
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.output, "error: The file no longer exists\n");
    EXPECT_EQ(testing_support::ListFolder(work.path()), "broken.docx");
}

TEST(CommandLine, UninstallRemovesTheSettings) {
    TempDir config;
    ASSERT_EQ(RunCommand("mkdir -p " + ShellQuote(config.File("quillaven")) + " " +
                         ShellQuote(config.File("autostart")))
                  .exitCode,
              0);
    WriteFile(config.File("quillaven/settings.ini"), "RamMB=1024\n");
    WriteFile(config.File("autostart/quillaven.desktop"), "[Desktop Entry]\nExec=x\n");
    auto result = Quillaven(config, "--background --uninstall");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_FALSE(FileExists(config.File("quillaven/settings.ini")));
    EXPECT_FALSE(FileExists(config.File("autostart/quillaven.desktop")));
}
