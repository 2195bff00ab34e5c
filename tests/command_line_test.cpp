#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>

#include "command_line.h"
#include "convert/core/text.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

// Runs the program in `folder` with its settings in a private one.
CommandResult Quillaven(const TempDir& config, const std::string& arguments,
                                         const std::string& folder = "/") {
    return RunCommand("cd " + ShellQuote(folder) + " && XDG_CONFIG_HOME=" + ShellQuote(config.path()) +
                      " XDG_DATA_HOME=" + ShellQuote(config.path()) + " " + ShellQuote(QUILL_PROGRAM) + " " + arguments);
}

}  // namespace

TEST(CommandLine, OptionNumbers) {
    const std::pair<const char*, int32_t> numbers[] = {
        {"720", 720}, {"abc", 0}, {"", 0}, {"  -1frames", -1}, {"+65", 65}, {"- 5", 0},
        {"99999999999", 2147483647}, {"-99999999999", -2147483647 - 1},  // saturated
    };
    for (auto [text, number] : numbers) EXPECT_EQ(ParseOptionNumber(text), number) << text;
}

TEST(CommandLine, TextsAndExitCodes) {
    TempDir config, work;
    auto usage = Quillaven(config, "--convert /tmp/a.docx");
    EXPECT_EQ(usage.exitCode, 2);
    EXPECT_EQ(usage.output, "usage: Quillaven --convert <file> <format> [option]\n");
    auto unknown = Quillaven(config, "--convert /tmp/a.docx xyz");
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_EQ(unknown.output, "unknown format: xyz\n");

    ASSERT_EQ(RunCommand("cp " + ShellQuote(DataPath("corpus/documents/docx/docx-headers.docx")) + " " +
                         ShellQuote(work.path())).exitCode, 0);
    auto first = Quillaven(config, "--convert docx-headers.docx Odt", work.path());
    EXPECT_EQ(first.exitCode, 0) << first.output;
    EXPECT_EQ(first.output, work.File("docx-headers.odt") + "\n");  // relative to where it was started
    EXPECT_EQ(Quillaven(config, "--convert docx-headers.docx ODT 720", work.path()).output,
              work.File("docx-headers (2).odt") + "\n");

    WriteFile(work.File("broken.docx"), "not a zip at all, but long enough to look");
    auto broken = Quillaven(config, "--convert broken.docx pdf", work.path());
    EXPECT_EQ(broken.exitCode, 1);
    EXPECT_EQ(broken.output, "error: This isn't a valid document\n");
    auto missing = Quillaven(config, "--convert gone.docx pdf", work.path());
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.output, "error: The file no longer exists\n");
    EXPECT_EQ(ListFolder(work.path()), "broken.docx|docx-headers (2).odt|docx-headers.docx|docx-headers.odt");
}

TEST(CommandLine, UninstallRemovesTheSettings) {
    TempDir config;
    ASSERT_EQ(RunCommand("mkdir -p " + ShellQuote(config.File("quillaven"))).exitCode, 0);
    WriteFile(config.File("quillaven/settings.ini"), "RamMB=1024\n");
    EXPECT_EQ(Quillaven(config, "--background --uninstall").exitCode, 0);
    EXPECT_FALSE(FileExists(config.File("quillaven/settings.ini")));
    // The switches only count in first place: this is a host start, which without a display
    // fails quietly (no usage text any more).
    CommandResult noDisplay = RunCommand("DISPLAY= XDG_CONFIG_HOME=" + ShellQuote(config.path()) + " " +
                                         ShellQuote(QUILL_PROGRAM) + " --background --convert a b");
    EXPECT_EQ(noDisplay.exitCode, 1);
    EXPECT_EQ(noDisplay.output, "");
}

TEST(CommandLine, ThePathIsTheFileTheShellWouldOpen) {
    TempDir config, work;
    // dir/link/../doc.txt is elsewhere/doc.txt for the kernel; by its text it would be dir/doc.txt.
    for (const char* folder : {"dir", "elsewhere", "elsewhere/sub"}) ::mkdir(work.File(folder).c_str(), 0700);
    WriteFile(work.File("dir/doc.txt"), "the wrong file\n");
    WriteFile(work.File("elsewhere/doc.txt"), "the right file\n");
    ASSERT_EQ(::symlink("../elsewhere/sub", work.File("dir/link").c_str()), 0);
    auto linked = Quillaven(config, "--convert dir/link/../doc.txt md", work.path());
    EXPECT_EQ(linked.output, work.File("dir/link/../doc.md") + "\n");
    EXPECT_EQ(ReadFile(work.File("elsewhere/doc.md")), "the right file\n\n");
    EXPECT_EQ(ListFolder(work.File("dir")), "doc.txt|link");
    const std::pair<const char*, const char*> refused[] = {
        {"dir/doc.txt/", "error: That isn't a file\n"},   // a trailing slash asks for a folder
        {"dir/", "error: That isn't a file\n"},
        {"dir/missing.txt/", "error: That isn't a file\n"},
    };
    for (auto [path, message] : refused) {
        auto run = Quillaven(config, std::string("--convert ") + path + " md", work.path());
        EXPECT_EQ(run.exitCode, 1) << path;
        EXPECT_EQ(run.output, message) << path;
    }
}

TEST(CommandLine, SixteenAtOnceGiveSixteenOutputs) {
    TempDir config, work;
    WriteFile(work.File("report.txt"), "One report\n");
    std::string program = "XDG_CONFIG_HOME=" + ShellQuote(config.path()) + " " + ShellQuote(QUILL_PROGRAM);
    auto run = RunCommand("cd " + ShellQuote(work.path()) + " && for i in $(seq 16); do " + program +
                          " --convert report.txt md || echo failed & done; wait");
    std::vector<std::string> printed = Split(std::string_view(run.output), '\n');
    std::set<std::string> outputs(printed.begin(), printed.end());
    outputs.erase("");
    EXPECT_EQ(outputs.size(), 16u) << run.output;
    EXPECT_EQ(outputs.count(work.File("report (16).md")), 1u) << run.output;
    for (const std::string& output : outputs) EXPECT_EQ(ReadFile(output), "One report\n\n") << output;
}
