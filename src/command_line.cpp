#include "command_line.h"

#include <unistd.h>

#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "job_runner.h"
#include "settings.h"

namespace {

constexpr auto kStatePollInterval = std::chrono::milliseconds(50);

bool IsFinal(int32_t state) { return state == kJobSucceeded || state == kJobFailed || state == kJobCancelled; }

}  // namespace

int32_t ParseOptionNumber(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > int64_t{INT32_MAX} + 1) value = int64_t{INT32_MAX} + 1;  // saturate, keep reading
    }
    if (negative) value = -value;
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

std::string FullPathOf(const std::string& argument) {
    if (argument.empty() || argument.front() == '/') return argument;
    // Joined, not normalised: "link/../doc.txt" is what the kernel finds by following the
    // link, which is what the shell would open; removing "link/.." by text names another file.
    std::string folder(PATH_MAX, '\0');
    if (!::getcwd(folder.data(), folder.size())) return argument;
    folder.resize(std::char_traits<char>::length(folder.c_str()));
    if (folder.back() != '/') folder.push_back('/');
    return folder + argument;
}

int RunCommandLineConversion(const std::vector<std::string>& args) {
    if (args.size() < 2) {
        std::fputs("usage: Quillaven --convert <file> <format> [option]\n", stderr);
        return 2;
    }
    int32_t format = FormatFromToken(args[1]);
    if (format == 0) {
        std::fprintf(stderr, "unknown format: %s\n", args[1].c_str());
        return 2;
    }

    auto job = std::make_shared<Job>();
    job->files.push_back(FullPathOf(args[0]));
    job->target.format = format;
    job->target.option = args.size() >= 3 ? ParseOptionNumber(args[2]) : 0;

    // The runner tells us when a job ends, so the poll below rarely has to wait out
    // its interval; the state stays the one source of truth.
    std::mutex mutex;
    std::condition_variable changed;
    {
        JobRunner runner(
            [&] {
                std::lock_guard lock(mutex);
                changed.notify_all();
            },
            ReadLimits());
        runner.Enqueue(job);
        std::unique_lock lock(mutex);
        while (!IsFinal(job->state.load())) changed.wait_for(lock, kStatePollInterval);
    }

    for (const std::string& output : job->outputs) std::printf("%s\n", output.c_str());
    int32_t state = job->state.load();
    if (state != kJobSucceeded) std::fprintf(stderr, "error: %s\n", job->status.c_str());
    std::fflush(stdout);
    std::fflush(stderr);
    return state == kJobSucceeded ? 0 : 1;
}
