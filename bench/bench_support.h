// Shared by the benchmarks that time whole conversions against other tools: every side,
// ours included (the benchmark re-started in child mode), runs as a fresh child process,
// so start-up counts alike and each one's peak resident memory is its own (wait4's
// ru_maxrss). Times are the best of a few runs; memory is the highest seen.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "convert/core/context.h"
#include "convert/core/converters.h"
#include "convert/core/errors.h"

namespace bench {

namespace fs = std::filesystem;

constexpr int kExitConvertError = 3;  // the child's conversion failed with a ConvertError

struct Run {
    bool ok = false;
    int exitCode = -1;  // -1 when the child could not start or died by a signal
    double seconds = 0;
    long peakKiB = 0;
    double cpuSeconds = 0;  // user and system time of the child and the children it waited for
};

// Runs argv as a child with its output discarded; wall time and peak memory from wait4.
inline Run RunChild(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    auto start = std::chrono::steady_clock::now();
    pid_t pid = ::fork();
    if (pid == 0) {
        int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    Run run;
    int status = 0;
    struct rusage usage {};
    if (pid < 0 || ::wait4(pid, &status, 0, &usage) < 0) return run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.peakKiB = usage.ru_maxrss;
    run.cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.ok = run.exitCode == 0;
    return run;
}

// Best time and highest peak memory over `runs`; `cleanUp` runs after each one, so that
// outputs never pile up or change the next run's output name. Stops at the first failure.
inline Run Best(const std::vector<std::string>& argv, int runs, const std::function<void()>& cleanUp) {
    Run best;
    for (int i = 0; i < runs; ++i) {
        Run run = RunChild(argv);
        cleanUp();
        if (!run.ok) return run;
        best.seconds = best.ok ? std::min(best.seconds, run.seconds) : run.seconds;
        best.cpuSeconds = best.ok ? std::min(best.cpuSeconds, run.cpuSeconds) : run.cpuSeconds;
        best.peakKiB = std::max(best.peakKiB, run.peakKiB);
        best.exitCode = 0;
        best.ok = true;
    }
    return best;
}

// Removes everything in `folder` but the files named in `keep`.
inline void RemoveAllBut(const fs::path& folder, const std::vector<std::string>& keep) {
    for (const auto& entry : fs::directory_iterator(folder))
        if (std::find(keep.begin(), keep.end(), entry.path().filename().string()) == keep.end()) fs::remove_all(entry.path());
}

// Child mode: one whole conversion in this fresh process.
inline int ConvertInChild(const std::string& input, int32_t format) {
    try {
        ConvertContext context;
        ConvertDocument(input, Target{format, 0, ""}, context);
        return 0;
    } catch (const ConvertError& error) {
        std::fprintf(stderr, "%s\n", error.message.c_str());
        return kExitConvertError;
    }
}

inline double MiB(long kib) { return static_cast<double>(kib) / 1024.0; }

inline void WriteText(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// Prose drawn from a vocabulary by a fixed pseudo-random sequence, so that generated
// inputs compress like text rather than like one repeated sentence.
class Words {
public:
    Words(std::vector<const char*> vocabulary, uint64_t seed, int sentenceLength)
        : vocabulary_(std::move(vocabulary)), state_(seed), sentenceLength_(sentenceLength) {}
    std::string Next(int count) {
        std::string text;
        for (int i = 0; i < count; ++i) {
            state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
            text += vocabulary_[(state_ >> 33) % vocabulary_.size()];
            text += (i + 1) % sentenceLength_ == 0 ? ". " : " ";
        }
        return text;
    }

private:
    std::vector<const char*> vocabulary_;
    uint64_t state_;
    int sentenceLength_;
};

}  // namespace bench
