// Whole command-line conversions, start to exit, median of 20 runs each:
//   1) `Quillaven --convert` of a tiny input that fails fast (a file that does not exist),
//   2) `Quillaven --convert` of a small real document (DOCX to ODT),
//   3) `pandoc` doing the same DOCX to ODT conversion, the tool a user would reach for.
//
//   bench_command_line [program [sample.docx]]
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRuns = 20;

// Runs argv with its output discarded; the wall time in milliseconds, or -1 when it could not start.
double TimeRun(const std::vector<std::string>& argv) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    auto start = Clock::now();
    pid_t pid;
    int failed = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed) return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return (values[values.size() / 2] + values[(values.size() - 1) / 2]) / 2;
}

// Runs a conversion kRuns times in a fresh folder each time, so the output name never grows.
double MedianConversion(const std::string& folder, const std::string& input,
                        const std::vector<std::string>& (*argvFor)(const std::string&, const std::string&)) {
    std::vector<double> times;
    for (int run = 0; run < kRuns; ++run) {
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        std::string copy = folder + "/sample.docx";
        std::filesystem::copy_file(input, copy);
        times.push_back(TimeRun(argvFor(copy, folder + "/sample.odt")));
    }
    return Median(times);
}

std::string g_program;

const std::vector<std::string>& OurArgs(const std::string& input, const std::string&) {
    static std::vector<std::string> args;
    args = {g_program, "--convert", input, "odt"};
    return args;
}

const std::vector<std::string>& PandocArgs(const std::string& input, const std::string& output) {
    static std::vector<std::string> args;
    args = {"pandoc", input, "-o", output};
    return args;
}

}  // namespace

int main(int argc, char** argv) {
    std::string self = std::filesystem::canonical("/proc/self/exe").string();
    std::string build = std::filesystem::path(self).parent_path().parent_path().string();
    g_program = argc > 1 ? argv[1] : build + "/Quillaven";
    std::string sample = argc > 2 ? argv[2] : std::string(QUILL_SOURCE_DIR) + "/tests/data/corpus/documents/docx/docx-headers.docx";
    std::string scratch = std::filesystem::temp_directory_path() / ("quillaven-bench-cli-" + std::to_string(::getpid()));

    std::vector<double> failing;
    for (int run = 0; run < kRuns; ++run) failing.push_back(TimeRun({g_program, "--convert", "/nonexistent/input.docx", "pdf"}));
    std::printf("Quillaven --convert, input missing (fails fast): median %.1f ms of %d runs\n", Median(failing), kRuns);

    double ours = MedianConversion(scratch + "/ours", sample, OurArgs);
    std::printf("Quillaven --convert DOCX to ODT:                  median %.1f ms\n", ours);
    double pandoc = MedianConversion(scratch + "/pandoc", sample, PandocArgs);
    if (pandoc >= 0)
        std::printf("pandoc DOCX to ODT:                               median %.1f ms  (pandoc / Quillaven = %.1f)\n",
                    pandoc, pandoc / ours);
    else
        std::printf("pandoc is not installed; no comparison\n");
    std::filesystem::remove_all(scratch);
    return 0;
}
