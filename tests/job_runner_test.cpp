// The job runner with real worker processes: a scripted stand-in worker (tools/fake_worker)
// whose input "paths" say what it does, so each test controls exactly what the host sees.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <thread>

#include "job_runner.h"
#include "platform/worker_group.h"
#include "platform/worker_process.h"
#include "support/test_support.h"

extern char** environ;

using testing_support::FileExists;
using testing_support::ReadFile;
using testing_support::TempDir;

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const char* const kFakeWorker = QUILL_TOOL_fake_worker;

LimitSettings Limits(int32_t ramMB = 0, int32_t parallel = 2, int32_t cpuPercent = 100) {
    LimitSettings limits;
    limits.RamMB = ramMB;
    limits.ParallelJobs = parallel;
    limits.CpuPercent = cpuPercent;
    return limits;
}

bool WaitFor(const std::function<bool()>& condition, milliseconds timeout = milliseconds(10000)) {
    Clock::time_point end = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(milliseconds(2));
    }
    return true;
}

bool IsFinal(const Job& job) { return job.state.load() >= kJobSucceeded; }

std::shared_ptr<Job> NewJob(std::vector<std::string> scripts) { return MakeJob(std::move(scripts), Target{kPng, 0, ""}); }

// Runs one job to its end on a runner of its own.
std::shared_ptr<Job> RunJob(std::vector<std::string> scripts, const LimitSettings& limits = Limits()) {
    auto job = NewJob(std::move(scripts));
    JobRunner runner({}, limits, kFakeWorker);
    runner.Enqueue(job);
    EXPECT_TRUE(WaitFor([&] { return IsFinal(*job); }, milliseconds(20000)));
    return job;
}

long ReadNumber(const std::string& path) {
    long number = -1;
    std::istringstream(ReadFile(path)) >> number;
    return number;
}

// Gone, or dead and only waiting to be reaped by whoever adopted it.
bool ProcessGone(long pid) {
    std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    if (stat.empty()) return true;
    size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && (stat[close + 2] == 'Z' || stat[close + 2] == 'X');
}

// The value after "key=" in a report line.
std::string Field(const std::string& line, const std::string& key) {
    size_t start = line.find(" " + key + "=");
    if (start == std::string::npos) return "<missing>";
    start += key.size() + 2;
    return line.substr(start, line.find(' ', start) - start);
}

bool SharedLimitsAvailable(bool processor) {
    std::unique_ptr<WorkerGroup> probe = WorkerGroup::Create(Limits());
    return probe && (processor ? probe->LimitsProcessor() : probe->LimitsMemory());
}

int CountState(const std::vector<std::shared_ptr<Job>>& jobs, int32_t state) {
    int count = 0;
    for (const auto& job : jobs) count += job->state.load() == state;
    return count;
}

}  // namespace

TEST(JobRunner, OneFileWithOutputIsSavedAs) {
    auto job = RunJob({"progress:0.5;out:/home/u/Pictures/cat (2).jpg;done"});
    EXPECT_EQ(job->state.load(), kJobSucceeded);
    EXPECT_EQ(job->status, "Saved as cat (2).jpg");
    EXPECT_EQ(job->outputs, std::vector<std::string>{"/home/u/Pictures/cat (2).jpg"});
    EXPECT_EQ(job->progress.load(), 1.0f);
}

TEST(JobRunner, OneFileWithoutOutputLine) {
    auto job = RunJob({"done"});
    EXPECT_EQ(job->state.load(), kJobSucceeded);
    EXPECT_EQ(job->status, "1 files converted");
}

TEST(JobRunner, TwoOfThreeConverted) {
    auto job = RunJob({"out:/o/a.md;done", "fail:Couldn't open this document", "out:/o/c.md;done"});
    EXPECT_EQ(job->state.load(), kJobSucceeded);
    EXPECT_EQ(job->status, "2 of 3 converted");
    EXPECT_EQ(job->outputs, (std::vector<std::string>{"/o/a.md", "/o/c.md"}));
}

TEST(JobRunner, EveryFileFailed) {
    auto job = RunJob({"fail:First reason", "fail:This PDF has too many pages (2000 max)"});
    EXPECT_EQ(job->state.load(), kJobFailed);
    EXPECT_EQ(job->status, "This PDF has too many pages (2000 max)");
}

TEST(JobRunner, CrashBeforeFinishingBlamesTheRamLimitOnlyWhenOneIsSet) {
    auto limited = RunJob({"crash"}, Limits(4096));
    EXPECT_EQ(limited->state.load(), kJobFailed);
    EXPECT_EQ(limited->status, "Stopped: the RAM limit in Settings was exceeded");
    auto unlimited = RunJob({"crash"}, Limits(0));
    EXPECT_EQ(unlimited->status, "The conversion stopped unexpectedly");
    // A crash after one file succeeded keeps that success.
    auto partial = RunJob({"done", "crash", "done"}, Limits(4096));
    EXPECT_EQ(partial->state.load(), kJobSucceeded);
    EXPECT_EQ(partial->status, "1 of 3 converted");
}

TEST(JobRunner, WorkerThatRejectsTheRequest) {
    // A format the worker does not know: it exits with 2 before reporting anything.
    auto job = MakeJob({"done"}, Target{0, 0, ""});
    {
        JobRunner runner({}, Limits(0), kFakeWorker);
        runner.Enqueue(job);
        ASSERT_TRUE(WaitFor([&] { return IsFinal(*job); }));
    }
    EXPECT_EQ(job->state.load(), kJobFailed);
    EXPECT_EQ(job->status, "The conversion stopped unexpectedly");
}

TEST(JobRunner, MissingWorkerProgram) {
    auto job = NewJob({"done"});
    JobRunner runner({}, Limits(), "/nonexistent/quillaven-worker");
    runner.Enqueue(job);
    ASSERT_TRUE(WaitFor([&] { return IsFinal(*job); }));
    EXPECT_EQ(job->state.load(), kJobFailed);
    EXPECT_EQ(job->status, "Couldn't start the converter");
}

TEST(JobRunner, PathsThatWouldBreakTheRequestNeverReachAWorker) {
    TempDir dir;
    std::string marker = dir.File("started");
    auto job = RunJob({"touch:" + marker + ";done", "evil\nlimits 100 100 0 0 4 1 0"});
    EXPECT_EQ(job->state.load(), kJobFailed);
    EXPECT_EQ(job->status, "That isn't a normal file path");
    EXPECT_FALSE(FileExists(marker));
}

TEST(JobRunner, FileIndexIsCappedAndProgressFollows) {
    TempDir dir;
    auto job = NewJob({"line:file 7;progress:0.5;wait-cancel", "done", "done"});
    JobRunner runner({}, Limits(), kFakeWorker);
    runner.Enqueue(job);
    // Index 7 of a three-file job is the last file: (2 + 0.5) / 3.
    EXPECT_TRUE(WaitFor([&] { return std::abs(job->progress.load() - 2.5f / 3) < 1e-6f; }));
    JobRunner::Cancel(*job);
    ASSERT_TRUE(WaitFor([&] { return IsFinal(*job); }));
    EXPECT_EQ(job->status, "Cancelled");
}

TEST(JobRunner, ProgressAboveOneAndUnmeasured) {
    auto job = NewJob({"progress:0.5;progress:-1;wait-cancel"});
    auto several = NewJob({"done", "progress:-1;wait-cancel"});
    JobRunner runner({}, Limits(), kFakeWorker);
    runner.Enqueue(job);
    runner.Enqueue(several);
    // A single file without a measure shows -1; in a job of two it shows where file 1 starts.
    EXPECT_TRUE(WaitFor([&] { return job->progress.load() == -1.0f; }));
    EXPECT_TRUE(WaitFor([&] { return several->progress.load() == 0.5f; }));
    JobRunner::Cancel(*job);
    JobRunner::Cancel(*several);
    ASSERT_TRUE(WaitFor([&] { return IsFinal(*job) && IsFinal(*several); }));

    auto capped = NewJob({"progress:1.5;wait-cancel"});
    runner.Enqueue(capped);
    EXPECT_TRUE(WaitFor([&] { return capped->progress.load() == 1.0f; }));
    JobRunner::Cancel(*capped);
    ASSERT_TRUE(WaitFor([&] { return IsFinal(*capped); }));
}

TEST(JobRunner, OverlongUnfinishedLineIsDiscardedAndLaterLinesCount) {
    auto job = RunJob({"raw:output /o/flood-;flood:70000;line:;out:/o/after.txt;done"});
    EXPECT_EQ(job->state.load(), kJobSucceeded);
    EXPECT_EQ(job->outputs, std::vector<std::string>{"/o/after.txt"});
    EXPECT_EQ(job->status, "Saved as after.txt");
}

TEST(JobRunner, LongRequestIsWrittenWhole) {
    // Far more than a pipe holds: the runner waits while the worker reads.
    std::vector<std::string> scripts(6000, "done;pad:" + std::string(200, 'p'));
    auto job = RunJob(scripts);
    EXPECT_EQ(job->state.load(), kJobSucceeded);
    EXPECT_EQ(job->status, "6000 files converted");
}

TEST(JobRunner, HonouredCancel) {
    auto job = NewJob({"wait-cancel", "done"});
    JobRunner runner({}, Limits(), kFakeWorker);
    runner.Enqueue(job);
    ASSERT_TRUE(WaitFor([&] { return job->state.load() == kJobRunning; }));
    Clock::time_point start = Clock::now();
    JobRunner::Cancel(*job);
    ASSERT_TRUE(WaitFor([&] { return IsFinal(*job); }));
    EXPECT_LT(Clock::now() - start, milliseconds(2000));  // the worker stops on its own, no grace
    EXPECT_EQ(job->state.load(), kJobCancelled);
    EXPECT_EQ(job->status, "Cancelled");
}

TEST(JobRunner, IgnoredCancelEndsInAKillAfterTheGrace) {
    TempDir dir;
    std::string pidFile = dir.File("pid");
    auto job = NewJob({"ignore-cancel;report-pid:" + pidFile + ";sleep:30000;done"});
    JobRunner runner({}, Limits(), kFakeWorker);
    runner.Enqueue(job);
    ASSERT_TRUE(WaitFor([&] { return FileExists(pidFile); }));
    Clock::time_point start = Clock::now();
    JobRunner::Cancel(*job);
    ASSERT_TRUE(WaitFor([&] { return IsFinal(*job); }, milliseconds(15000)));
    Clock::duration took = Clock::now() - start;
    EXPECT_GT(took, milliseconds(5000));
    EXPECT_LT(took, milliseconds(7500));
    EXPECT_EQ(job->state.load(), kJobCancelled);
    EXPECT_EQ(job->status, "Cancelled");
    EXPECT_TRUE(ProcessGone(ReadNumber(pidFile)));
}

TEST(JobRunner, CancelAfterEveryFileWasDoneStillSucceeds) {
    TempDir dir;
    std::string marker = dir.File("done");
    auto job = NewJob({"out:/o/x.txt;done;touch:" + marker + ";ignore-cancel;sleep:300"});
    JobRunner runner({}, Limits(), kFakeWorker);
    runner.Enqueue(job);
    ASSERT_TRUE(WaitFor([&] { return FileExists(marker); }));
    JobRunner::Cancel(*job);
    ASSERT_TRUE(WaitFor([&] { return IsFinal(*job); }));
    EXPECT_EQ(job->state.load(), kJobSucceeded);
    EXPECT_EQ(job->status, "Saved as x.txt");
}

TEST(JobRunner, CancelledWhileQueuedNeverStarts) {
    TempDir dir;
    std::string marker = dir.File("started");
    auto first = NewJob({"wait-cancel"});
    auto second = NewJob({"touch:" + marker + ";done"});
    JobRunner runner({}, Limits(0, 1), kFakeWorker);
    runner.Enqueue(first);
    runner.Enqueue(second);
    ASSERT_TRUE(WaitFor([&] { return first->state.load() == kJobRunning; }));
    JobRunner::Cancel(*second);
    JobRunner::Cancel(*first);
    ASSERT_TRUE(WaitFor([&] { return IsFinal(*first) && IsFinal(*second); }));
    EXPECT_EQ(second->state.load(), kJobCancelled);
    EXPECT_EQ(second->status, "Cancelled");
    EXPECT_FALSE(FileExists(marker));
}

TEST(JobRunner, ParallelJobsGatesWorkersAndARaiseStartsMoreAtOnce) {
    std::atomic<int> notices{0};
    JobRunner runner([&] { ++notices; }, Limits(0, 2), kFakeWorker);
    std::vector<std::shared_ptr<Job>> jobs;
    for (int i = 0; i < 5; ++i) {
        jobs.push_back(NewJob({"wait-cancel"}));
        runner.Enqueue(jobs.back());
    }
    ASSERT_TRUE(WaitFor([&] { return CountState(jobs, kJobRunning) == 2; }));
    std::this_thread::sleep_for(milliseconds(200));
    EXPECT_EQ(CountState(jobs, kJobRunning), 2);
    EXPECT_EQ(CountState(jobs, kJobQueued), 3);
    // First in, first out.
    EXPECT_EQ(jobs[0]->state.load(), kJobRunning);
    EXPECT_EQ(jobs[1]->state.load(), kJobRunning);

    runner.UpdateLimits(Limits(0, 4));
    EXPECT_TRUE(WaitFor([&] { return CountState(jobs, kJobRunning) == 4; }, milliseconds(3000)));
    EXPECT_EQ(jobs[4]->state.load(), kJobQueued);

    // Lowering the setting narrows the gate: after one ends, the fifth still waits.
    runner.UpdateLimits(Limits(0, 1));
    JobRunner::Cancel(*jobs[0]);
    ASSERT_TRUE(WaitFor([&] { return IsFinal(*jobs[0]); }));
    std::this_thread::sleep_for(milliseconds(200));
    EXPECT_EQ(jobs[4]->state.load(), kJobQueued);

    for (const auto& job : jobs) JobRunner::Cancel(*job);
    ASSERT_TRUE(WaitFor([&] { return CountState(jobs, kJobCancelled) == 5; }));
    EXPECT_TRUE(WaitFor([&] { return notices.load() >= 2 * 4 + 1; }));  // start and end of each run
}

TEST(JobRunner, LimitChangesReachRunningWorkers) {
    auto job = NewJob({"wait-limits:2;report-limits;report-process;done"});
    JobRunner runner({}, Limits(512), kFakeWorker);
    runner.Enqueue(job);
    ASSERT_TRUE(WaitFor([&] { return job->state.load() == kJobRunning; }));
    LimitSettings changed = Limits(256);
    changed.CpuPercent = 45;
    changed.LowPriority = false;
    runner.UpdateLimits(changed);
    EXPECT_EQ(runner.Limits(), changed);
    ASSERT_TRUE(WaitFor([&] { return IsFinal(*job); }));
    ASSERT_EQ(job->outputs.size(), 2u);
    EXPECT_EQ(job->outputs[0], "limits limits 45 70 1536 256 2 1 0");
    EXPECT_EQ(Field(job->outputs[1], "data"), WorkerDataLimitApplies() ? std::to_string(256 << 20) : "inf");
}

TEST(JobRunner, WorkerProcessSetup) {
    int inheritable = ::open("/dev/null", O_RDONLY);  // a descriptor the host forgot to protect
    auto job = RunJob({"report-fds;report-process;report-cgroup;done"}, Limits(64));
    ::close(inheritable);
    ASSERT_EQ(job->state.load(), kJobSucceeded);
    ASSERT_EQ(job->outputs.size(), 3u);

    // Exactly the two pipe ends: input on 0, output and error on one other pipe.
    std::istringstream fds(job->outputs[0].substr(std::string("fds ").size()));
    std::vector<std::string> entries{std::istream_iterator<std::string>(fds), std::istream_iterator<std::string>()};
    ASSERT_EQ(entries.size(), 3u) << job->outputs[0];
    EXPECT_EQ(entries[0].substr(0, 7), "0=pipe:");
    EXPECT_EQ(entries[1].substr(0, 7), "1=pipe:");
    EXPECT_EQ(entries[1].substr(2), entries[2].substr(2));
    EXPECT_NE(entries[0].substr(2), entries[1].substr(2));

    const std::string& process = job->outputs[1];
    EXPECT_EQ(Field(process, "nice"), "10");
    EXPECT_EQ(Field(process, "core"), "0/0");
    EXPECT_EQ(Field(process, "data"), WorkerDataLimitApplies() ? std::to_string(64 << 20) : "inf");
    EXPECT_EQ(Field(process, "cwd"), "/");
    EXPECT_EQ(Field(process, "nnp"), "1");
    EXPECT_EQ(Field(process, "pdeathsig"), std::to_string(SIGKILL));
    EXPECT_EQ(Field(process, "sigpipe"), "default");

    if (SharedLimitsAvailable(false)) {
        EXPECT_NE(job->outputs[2].find("/quillaven-"), std::string::npos) << job->outputs[2];
    }
}

TEST(JobRunner, NoDataLimitWithoutARamLimit) {
    auto job = RunJob({"report-process;done"}, Limits(0));
    ASSERT_EQ(job->outputs.size(), 1u);
    EXPECT_EQ(Field(job->outputs[0], "data"), "inf");
}

TEST(JobRunner, HostIgnoresBrokenPipes) {
    JobRunner runner({}, Limits(), kFakeWorker);
    struct sigaction current {};
    ::sigaction(SIGPIPE, nullptr, &current);
    EXPECT_EQ(current.sa_handler, SIG_IGN);
}

TEST(JobRunner, AllocationPastTheRamLimitFailsInsideTheWorker) {
    if (!WorkerDataLimitApplies()) GTEST_SKIP() << "this build gives workers no data limit";
    JobRunner runner({}, Limits(64), kFakeWorker);
    auto greedy = NewJob({"alloc:200;done"});
    auto modest = NewJob({"alloc:16;done"});
    runner.Enqueue(greedy);
    runner.Enqueue(modest);
    ASSERT_TRUE(WaitFor([&] { return IsFinal(*greedy) && IsFinal(*modest); }));
    EXPECT_EQ(greedy->state.load(), kJobFailed);
    // Usually the worker's own data limit makes the allocation fail; the shared limit of
    // the control group counts pages the data limit does not (the program's own files),
    // so now and then it strikes first and the worker is stopped instead.
    EXPECT_TRUE(greedy->status == "Needed more memory than the RAM limit in Settings allows" ||
                greedy->status == "Stopped: the RAM limit in Settings was exceeded")
        << greedy->status;
    // The next job is not affected.
    EXPECT_EQ(modest->state.load(), kJobSucceeded);
    EXPECT_EQ(modest->status, "1 files converted");
}

TEST(JobRunner, WorkersTogetherPastTheRamLimitAreStopped) {
    if (!SharedLimitsAvailable(false)) GTEST_SKIP() << "no writable memory control group here";
    // Each worker stays under its own data limit, but two of them exceed the shared one.
    JobRunner runner({}, Limits(128, 2), kFakeWorker);
    auto first = NewJob({"hold:75;sleep:1500;done"});
    auto second = NewJob({"hold:75;sleep:1500;done"});
    runner.Enqueue(first);
    runner.Enqueue(second);
    ASSERT_TRUE(WaitFor([&] { return IsFinal(*first) && IsFinal(*second); }));
    int stopped = (first->status == "Stopped: the RAM limit in Settings was exceeded") +
                  (second->status == "Stopped: the RAM limit in Settings was exceeded");
    EXPECT_GE(stopped, 1) << first->status << " / " << second->status;
    auto after = NewJob({"alloc:16;done"});
    runner.Enqueue(after);
    ASSERT_TRUE(WaitFor([&] { return IsFinal(*after); }));
    EXPECT_EQ(after->status, "1 files converted");
}

TEST(JobRunner, ProcessorLimitHoldsForTheWorkers) {
    if (!SharedLimitsAvailable(true)) GTEST_SKIP() << "no writable cpu control group here";
    long processors = ::sysconf(_SC_NPROCESSORS_ONLN);
    // One spinning thread per processor would use the whole machine without the limit; the
    // boost keeps other programs on a shared machine from hiding whether the limit works.
    auto job = RunJob({"boost;busy:1000:" + std::to_string(processors) + ";done"}, Limits(0, 1, 25));
    ASSERT_EQ(job->state.load(), kJobSucceeded);
    std::istringstream report(job->outputs.at(0));
    std::string word;
    double cpu = 0, wall = 1;
    report >> word >> cpu >> wall;
    double machineShare = cpu / wall / static_cast<double>(processors);
    EXPECT_LT(machineShare, 0.25 * 1.3) << "used " << machineShare << " of the machine";
    EXPECT_GT(machineShare, 0.02);
}

TEST(JobRunner, NoWorkerOutlivesTheRunner) {
    TempDir dir;
    bool group = SharedLimitsAvailable(false) || SharedLimitsAvailable(true);
    auto honours = NewJob({"report-pid:" + dir.File("a") + ";wait-cancel"});
    // This one leaves a child of its own behind, which only the control group can find.
    auto leaves = NewJob({"report-pid:" + dir.File("b") + ";spawn:" + dir.File("c") + ";wait-cancel"});
    auto waiting = NewJob({"touch:" + dir.File("d") + ";done"});
    {
        JobRunner runner({}, Limits(0, 2), kFakeWorker);
        runner.Enqueue(honours);
        runner.Enqueue(leaves);
        runner.Enqueue(waiting);
        ASSERT_TRUE(WaitFor([&] { return FileExists(dir.File("a")) && FileExists(dir.File("c")); }));
    }
    EXPECT_TRUE(ProcessGone(ReadNumber(dir.File("a"))));
    EXPECT_TRUE(ProcessGone(ReadNumber(dir.File("b"))));
    if (group) {
        EXPECT_TRUE(WaitFor([&] { return ProcessGone(ReadNumber(dir.File("c"))); }, milliseconds(2000)));
    } else {
        ::kill(static_cast<pid_t>(ReadNumber(dir.File("c"))), SIGKILL);
    }
    EXPECT_EQ(honours->status, "Cancelled");
    EXPECT_EQ(leaves->status, "Cancelled");
    // Jobs still queued are not started and stay queued.
    EXPECT_EQ(waiting->state.load(), kJobQueued);
    EXPECT_TRUE(waiting->cancelRequested.load());
    EXPECT_FALSE(FileExists(dir.File("d")));
}

TEST(JobRunner, WorkerDiesWithItsHost) {
    TempDir dir;
    std::string pidFile = dir.File("worker");
    std::string script = "ignore-cancel;report-pid:" + pidFile + ";sleep:60000";
    const char* argv[] = {QUILL_TOOL_runner_host, kFakeWorker, script.c_str(), nullptr};
    pid_t host = -1;
    ASSERT_EQ(::posix_spawn(&host, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ), 0);
    ASSERT_TRUE(WaitFor([&] { return FileExists(pidFile); }));
    long worker = ReadNumber(pidFile);
    ASSERT_GT(worker, 0);
    EXPECT_FALSE(ProcessGone(worker));
    std::string hostGroups = ReadFile("/proc/" + std::to_string(worker) + "/cgroup");

    ::kill(host, SIGKILL);
    int status = 0;
    ::waitpid(host, &status, 0);
    // The worker ignores the end of its input; only the parent-death signal ends it.
    EXPECT_TRUE(WaitFor([&] { return ProcessGone(worker); }, milliseconds(3000)));

    // The next runner removes the group the killed host left behind.
    size_t name = hostGroups.find("/quillaven-");
    if (name != std::string::npos) {
        std::string group = hostGroups.substr(name + 1, hostGroups.find('\n', name) - name - 1);
        JobRunner next({}, Limits(), kFakeWorker);
        std::string leftovers = testing_support::RunCommand("find /sys/fs/cgroup -maxdepth 4 -name " + group).output;
        EXPECT_EQ(leftovers, "") << group;
    }
}

TEST(JobRunner, ProgramsOwnWorkerUnderTheRunner) {
    // The real worker mode starts inside the runner's limits (sandbox, data limit, group)
    // and reports an input error as the job's status.
    TempDir dir;
    auto job = MakeJob({dir.File("missing.png")}, Target{kJpg, 80, ""});
    auto relative = MakeJob({"relative.png"}, Target{kJpg, 80, ""});
    {
        JobRunner runner({}, Limits(512), QUILL_PROGRAM);
        runner.Enqueue(job);
        runner.Enqueue(relative);
        ASSERT_TRUE(WaitFor([&] { return IsFinal(*job) && IsFinal(*relative); }));
    }
    EXPECT_EQ(job->state.load(), kJobFailed);
    EXPECT_EQ(job->status, "The file no longer exists");
    EXPECT_EQ(relative->state.load(), kJobFailed);
    EXPECT_EQ(relative->status, "Only files on this PC can be converted");
}
