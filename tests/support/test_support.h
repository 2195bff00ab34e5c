// Shared helpers for tests: temporary folders, files and running the independent
// tools (pandoc, qpdf, xmllint...) that check our outputs and make our inputs.
#pragma once

#include <string>
#include <string_view>

namespace testing_support {

// A fresh folder under the system's temporary folder, removed with its contents.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string File(std::string_view name) const { return path_ + "/" + std::string(name); }

private:
    std::string path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, std::string_view bytes);
bool FileExists(const std::string& path);
// Names in a folder, sorted.
std::string ListFolder(const std::string& path);

// A path under tests/data.
std::string DataPath(std::string_view relative);

struct CommandResult {
    int exitCode = -1;  // -1 when the command could not run or died by a signal
    std::string output;  // standard output and standard error together
};
// Runs a shell command line and captures what it prints.
CommandResult RunCommand(const std::string& commandLine);
// Single-quotes a word for the shell.
std::string ShellQuote(std::string_view word);

// Fails the current test (with a message) when an external tool is missing, unless
// QUILL_ALLOW_MISSING_TOOLS is set, in which case the test is skipped.
#define REQUIRE_TOOL(tool)                                                                         \
    do {                                                                                           \
        if (!::testing_support::ToolAvailable(tool)) {                                             \
            if (::testing_support::MissingToolsAllowed()) GTEST_SKIP() << tool << " is not installed"; \
            FAIL() << tool << " is not installed (scripts/install-deps installs it)";                  \
        }                                                                                          \
    } while (false)

bool ToolAvailable(const std::string& tool);
bool MissingToolsAllowed();

}  // namespace testing_support
