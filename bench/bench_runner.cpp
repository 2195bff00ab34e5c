// How quickly a job reaches its worker, and what supervising an idle worker costs.
//
//   bench_runner [scripted-worker [program]]
//
// The scripted worker defaults to the stand-in of the tests (tests/tools/fake_worker in the
// same build), the program to the build's Quillaven. 1) Time from Enqueue until the host
// has handled the scripted worker's first lines ("file 0" and the "progress" right after
// it), median of 20 runs, against the bare minimum a host needs for the same conversation:
// posix_spawn of the same program with two pipes, the same request, and a read of the same
// lines. 2) The same for a whole one-file job of the program's own worker mode. 3) Processor
// time the host spends while one job's worker sits idle for 10 seconds.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "convert/core/paths.h"
#include "convert/core/process.h"
#include "job_runner.h"
#include "platform/worker_process.h"
#include "protocol.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRuns = 20;
constexpr auto kIdle = std::chrono::seconds(10);

double Milliseconds(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double ProcessCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

LimitSettings BenchLimits() {
    LimitSettings limits;  // the defaults: 60 % of the processor, 4 GiB, two jobs
    return limits;
}

// Enqueue until the job has ended.
double RunnerJobTime(JobRunner& runner, const std::string& input, Target target) {
    auto job = MakeJob({input}, target);
    Clock::time_point start = Clock::now();
    runner.Enqueue(job);
    while (job->state.load() < kJobSucceeded) std::this_thread::sleep_for(std::chrono::microseconds(100));
    return Milliseconds(Clock::now() - start);
}

// Enqueue until the job's progress shows the worker's first report.
double RunnerLatency(JobRunner& runner) {
    auto job = MakeJob({"progress:0.5;wait-cancel"}, Target{kPng, 0, ""});
    Clock::time_point start = Clock::now();
    runner.Enqueue(job);
    // Polled finely but without spinning: a spinning reader would take a processor from the worker.
    while (job->progress.load() != 0.5f) std::this_thread::sleep_for(std::chrono::microseconds(100));
    double ms = Milliseconds(Clock::now() - start);
    JobRunner::Cancel(*job);
    while (job->state.load() < kJobSucceeded) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return ms;
}

// Spawns the worker, sends the request and reads until a line starting with `until` has
// arrived whole; with an empty `until`, until the worker has ended and is reaped.
double BareConversation(const std::string& worker, const std::string& request, const std::string& until) {
    int input[2], output[2];
    if (::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(output, O_CLOEXEC) != 0) return -1;
    Clock::time_point start = Clock::now();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    posix_spawn_file_actions_adddup2(&actions, output[1], 1);
    const char* argv[] = {worker.c_str(), "--worker", nullptr};
    pid_t pid = -1;
    posix_spawn(&pid, worker.c_str(), &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(input[0]);
    ::close(output[1]);
    ssize_t ignored = ::write(input[1], request.data(), request.size());
    (void)ignored;
    std::string seen = "\n";
    char chunk[4096];
    while (until.empty() || seen.find("\n" + until) == std::string::npos || seen.back() != '\n') {
        ssize_t got = ::read(output[0], chunk, sizeof chunk);
        if (got <= 0) break;
        seen.append(chunk, static_cast<size_t>(got));
    }
    if (until.empty()) ::waitpid(pid, nullptr, 0);
    double ms = Milliseconds(Clock::now() - start);
    ::close(input[1]);  // the end of its input cancels the worker
    ::close(output[0]);
    if (!until.empty()) ::waitpid(pid, nullptr, 0);
    return ms;
}

// The same conversation with nothing around it; `nice` is the worker's niceness (a runner
// starts every worker at 10, which on a busy machine slows its start-up by itself).
double BareLatency(const std::string& worker, int nice, const std::string& request, const std::string& until) {
    double ms = -1;
    // On Linux a thread's niceness is its own, and a process it starts inherits it.
    std::thread spawner([&] {
        ::setpriority(PRIO_PROCESS, 0, nice);
        ms = BareConversation(worker, request, until);
    });
    spawner.join();
    return ms;
}

}  // namespace

int main(int argc, char** argv) {
    std::string build = FolderOf(FolderOf(ModulePath()));
    std::string worker = argc > 1 ? argv[1] : JoinPath(build, "tests/fake_worker");
    std::string program = argc > 2 ? argv[2] : JoinPath(build, "Quillaven");
    if (::access(worker.c_str(), X_OK) != 0) {
        std::fprintf(stderr, "no worker at %s\n", worker.c_str());
        return 1;
    }
    IgnoreBrokenPipes();

    // 1. The scripted worker: Enqueue until its first lines are handled.
    std::printf("scripted worker: %s\n", worker.c_str());
    std::string script = "progress:0.5;wait-cancel";
    std::string request = FormatRequest(Target{kPng, 0, ""}, {script}, BenchLimits());
    std::vector<double> runner, bare, bareNiced;
    {
        JobRunner jobs({}, BenchLimits(), worker);
        RunnerLatency(jobs);  // warm-up: caches, first thread
        BareLatency(worker, 0, request, "progress");
        for (int i = 0; i < kRuns; ++i) {
            runner.push_back(RunnerLatency(jobs));
            bare.push_back(BareLatency(worker, 0, request, "progress"));
            bareNiced.push_back(BareLatency(worker, 10, request, "progress"));
        }
    }
    double runnerMedian = Median(runner), bareMedian = Median(bare), nicedMedian = Median(bareNiced);
    std::printf("  enqueue to first worker lines: median %.2f ms over %d runs (target < 15 ms)\n", runnerMedian, kRuns);
    std::printf("  bare posix_spawn and pipes:    median %.2f ms\n", bareMedian);
    std::printf("  bare, worker at nice 10:       median %.2f ms\n", nicedMedian);
    std::printf("  ratio runner / bare: %.2f; runner / bare at nice 10: %.2f\n", runnerMedian / bareMedian,
                runnerMedian / nicedMedian);

    // 2. The program's own worker mode: a whole one-file job (its first lines, its end and
    // the reap). The input is missing, so the time is the worker's and not a converter's.
    if (::access(program.c_str(), X_OK) == 0) {
        std::printf("program worker: %s --worker\n", program.c_str());
        const std::string missing = "/nonexistent/quillaven-bench/photo.png";
        std::string programRequest = FormatRequest(Target{kJpg, 0, ""}, {missing}, BenchLimits());
        std::vector<double> whole, wholeBare;
        JobRunner jobs({}, BenchLimits(), program);
        RunnerJobTime(jobs, missing, Target{kJpg, 0, ""});
        for (int i = 0; i < kRuns; ++i) {
            whole.push_back(RunnerJobTime(jobs, missing, Target{kJpg, 0, ""}));
            wholeBare.push_back(BareLatency(program, 10, programRequest, ""));
        }
        std::printf("  enqueue to job end:            median %.2f ms over %d runs\n", Median(whole), kRuns);
        std::printf("  bare, worker at nice 10:       median %.2f ms\n", Median(wholeBare));
        std::printf("  ratio runner / bare at nice 10: %.2f\n", Median(whole) / Median(wholeBare));
    }

    // 3. What supervising costs while nothing happens.
    JobRunner jobs({}, BenchLimits(), worker);
    auto idle = MakeJob({"sleep:" + std::to_string(std::chrono::milliseconds(kIdle).count() + 2000)}, Target{kPng, 0, ""});
    jobs.Enqueue(idle);
    while (idle->state.load() != kJobRunning) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the worker has started
    double cpuBefore = ProcessCpuSeconds();
    std::this_thread::sleep_for(kIdle);
    double cpu = ProcessCpuSeconds() - cpuBefore;
    std::printf("host processor time while a worker idles %lld s: %.3f ms (%.5f %% of one processor)\n",
                static_cast<long long>(kIdle.count()), cpu * 1000, cpu * 100 / static_cast<double>(kIdle.count()));
    JobRunner::Cancel(*idle);
    return 0;
}
