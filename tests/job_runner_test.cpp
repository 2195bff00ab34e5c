// The job runner with real worker processes: a scripted stand-in worker (tools/fake_worker)
// whose input "paths" say what it does, so each test controls exactly what the host sees.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <filesystem>
#include <random>
#include <regex>
#include <set>
#include <thread>

#include "convert/core/text.h"
#include "job_runner.h"
#include "platform/worker_group.h"
#include "platform/worker_process.h"
#include "support/test_support.h"

extern char** environ;
using namespace testing_support;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

const char* const kFakeWorker = QUILL_TOOL_fake_worker;
const std::string kRamText = "Stopped: the RAM limit in Settings was exceeded";

LimitSettings Limits(int32_t ramMB = 0, int32_t parallel = 2, int32_t cpuPercent = 100) {
    return LimitSettings{.CpuPercent = cpuPercent, .RamMB = ramMB, .ParallelJobs = parallel};
}

bool WaitFor(const std::function<bool()>& condition, milliseconds timeout = milliseconds(10000)) {
    for (Clock::time_point end = Clock::now() + timeout; !condition(); std::this_thread::sleep_for(milliseconds(2)))
        if (Clock::now() > end) return false;
    return true;
}

bool Final(const std::shared_ptr<Job>& job) { return job->state.load() >= kJobSucceeded; }

std::shared_ptr<Job> NewJob(std::vector<std::string> scripts) { return MakeJob(std::move(scripts), Target{kPng, 0, ""}); }

// Runs the jobs to their end on a runner of their own; the last one is returned.
std::shared_ptr<Job> RunJobs(const std::vector<std::shared_ptr<Job>>& jobs, const LimitSettings& limits = Limits(),
                             const char* worker = kFakeWorker) {
    JobRunner runner({}, limits, worker);
    for (const auto& job : jobs) runner.Enqueue(job);
    EXPECT_TRUE(WaitFor([&] { return std::all_of(jobs.begin(), jobs.end(), Final); }, milliseconds(20000)));
    return jobs.back();
}

long ReadNumber(const std::string& path) { return std::atol(ReadFile(path).c_str()); }

// Gone, or dead and only waiting to be reaped by whoever adopted it.
bool ProcessGone(long pid) {
    std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    size_t close = stat.rfind(") ");
    return stat.empty() || (close != std::string::npos && (stat[close + 2] == 'Z' || stat[close + 2] == 'X'));
}

// The process id of the job's worker, once it runs.
pid_t WorkerOf(const std::shared_ptr<Job>& job) {
    pid_t worker = -1;
    EXPECT_TRUE(WaitFor([&] {
        std::lock_guard lock(job->mutex);
        return (worker = job->workerId) > 0;
    }));
    return worker;
}

bool GroupLimits(bool processor) {
    std::unique_ptr<WorkerGroup> probe = WorkerGroup::Create(Limits());
    return probe && (processor ? probe->LimitsProcessor() : probe->LimitsMemory());
}

}  // namespace

TEST(JobRunner, OutcomesOfWorkersThatFinishFloodCrashOrCannotStart) {
    auto saved = NewJob({"progress:0.5;output /home/u/Pictures/cat (2).jpg;done 0"});
    auto partial = NewJob({"done 0", "crash", "done 2"});
    auto crashed = NewJob({"crash"});
    // Far more than a pipe holds: the runner writes while the worker reads. The flood is
    // past the host's line limit without a line feed; the lines after it still count.
    std::vector<std::string> scripts(6000, "done " + std::string(200, 'p'));
    scripts[0] = "flood:70000;;output /o/after.txt;done";
    auto flooded = NewJob(scripts);
    RunJobs({saved, partial, crashed, flooded}, Limits(4096));
    EXPECT_EQ(flooded->status, "6000 files converted");
    EXPECT_EQ(flooded->outputs, std::vector<std::string>{"/o/after.txt"});
    EXPECT_EQ(saved->status, "Saved as cat (2).jpg");
    EXPECT_EQ(saved->outputs, std::vector<std::string>{"/home/u/Pictures/cat (2).jpg"});
    EXPECT_EQ(saved->progress.load(), 1.0f);
    EXPECT_EQ(partial->status, "1 of 3 converted");  // a crash after one success keeps it
    EXPECT_EQ(crashed->state.load(), kJobFailed);
    // A RAM limit is set, but the memory controller killed nothing: a crash is no memory problem.
    EXPECT_EQ(crashed->status, "The conversion stopped unexpectedly");
    EXPECT_EQ(RunJobs({NewJob({"done"})}, Limits(), "/nonexistent/worker")->status, "Couldn't start the converter");
    // The program's own worker mode runs within the runner's limits, sandbox and group.
    EXPECT_EQ(RunJobs({MakeJob({"/nonexistent/a.png"}, Target{kJpg, 80, ""})}, Limits(512), QUILL_PROGRAM)->status,
              "The file no longer exists");
    // A line break in a path, or a space in the suffix, would smuggle lines into the request.
    TempDir dir;
    auto path = NewJob({"pid:" + dir.File("started"), "evil\nlimits 100 100 0 0 4 1 0"});
    auto suffix = MakeJob({"pid:" + dir.File("started")}, Target{kPng, 0, "a b"});
    RunJobs({path, suffix});
    EXPECT_EQ(path->status, "That isn't a normal file path");
    EXPECT_EQ(suffix->status, "That isn't a normal file path");
    EXPECT_FALSE(FileExists(dir.File("started")));
}

TEST(JobRunner, CancelsAreHonouredOrEndInAKillAfterTheGrace) {
    TempDir dir;
    auto honours = NewJob({"file 7;progress:0.5;wait-cancel", "done", "done"});
    auto ignores = NewJob({"ignore-cancel;pid:" + dir.File("pid") + ";sleep:30000;done"});
    JobRunner runner({}, Limits(), kFakeWorker);
    runner.Enqueue(honours);
    runner.Enqueue(ignores);
    // Index 7 of a three-file job is the last file: (2 + 0.5) / 3.
    ASSERT_TRUE(WaitFor([&] { return std::abs(honours->progress.load() - 2.5f / 3) < 1e-6f; }));
    ASSERT_TRUE(WaitFor([&] { return FileExists(dir.File("pid")); }));
    Clock::time_point start = Clock::now();
    JobRunner::Cancel(*honours);
    JobRunner::Cancel(*ignores);
    ASSERT_TRUE(WaitFor([&] { return Final(honours); }));
    EXPECT_LT(Clock::now() - start, milliseconds(2000));  // it stopped on its own
    ASSERT_TRUE(WaitFor([&] { return Final(ignores); }, milliseconds(15000)));
    EXPECT_GT(Clock::now() - start, milliseconds(5000));
    EXPECT_LT(Clock::now() - start, milliseconds(7500));
    EXPECT_TRUE(ProcessGone(ReadNumber(dir.File("pid"))));
    for (const auto& job : {honours, ignores}) {
        EXPECT_EQ(job->state.load(), kJobCancelled);
        EXPECT_EQ(job->status, "Cancelled");
    }
}

TEST(JobRunner, LimitChangesGateJobsAndReachRunningWorkers) {
    TempDir dir;
    std::atomic<int> notices{0};
    JobRunner runner([&] { ++notices; }, Limits(0, 2), kFakeWorker);
    struct sigaction brokenPipe {};
    ::sigaction(SIGPIPE, nullptr, &brokenPipe);
    EXPECT_EQ(brokenPipe.sa_handler, SIG_IGN);  // a worker gone mid-write must not end the host
    std::vector<std::shared_ptr<Job>> jobs;
    for (int i = 0; i < 5; ++i)
        runner.Enqueue(jobs.emplace_back(NewJob({(i < 4 ? "" : "pid:" + dir.File("started") + ";") + "wait-cancel"})));
    auto Count = [&](int32_t state) {
        return std::count_if(jobs.begin(), jobs.end(), [&](const auto& job) { return job->state == state; });
    };
    pid_t worker = WorkerOf(jobs[0]);
    ASSERT_TRUE(WaitFor([&] { return Count(kJobRunning) == 2; }));
    std::this_thread::sleep_for(milliseconds(200));
    EXPECT_EQ(Count(kJobRunning), 2);
    EXPECT_EQ(jobs[1]->state.load(), kJobRunning);  // first in, first out

    LimitSettings raised{.CpuPercent = 45, .RamMB = 256, .ParallelJobs = 4, .LowPriority = false};
    runner.UpdateLimits(raised);
    EXPECT_EQ(runner.Limits(), raised);
    EXPECT_TRUE(WaitFor([&] { return Count(kJobRunning) == 4; }, milliseconds(3000)));
    rlimit data{};
    ASSERT_EQ(::prlimit(worker, RLIMIT_DATA, nullptr, &data), 0);
    EXPECT_EQ(data.rlim_cur, WorkerDataLimitApplies() ? rlim_t(256) << 20 : data.rlim_max);
    // Lowering the setting narrows the gate: after one ends, the fifth still waits.
    runner.UpdateLimits(Limits(0, 1));
    ::prlimit(worker, RLIMIT_DATA, nullptr, &data);
    EXPECT_EQ(data.rlim_cur, data.rlim_max);  // no RAM limit, no data limit
    JobRunner::Cancel(*jobs[0]);
    ASSERT_TRUE(WaitFor([&] { return Final(jobs[0]); }));
    ASSERT_FALSE(jobs[0]->outputs.empty());  // the worker writes back the limits lines it got
    EXPECT_EQ(jobs[0]->outputs.front(), "limits 45 70 1536 256 4 1 0");
    EXPECT_EQ(jobs[0]->outputs.back(), "limits 100 70 1536 0 1 1 1");
    std::this_thread::sleep_for(milliseconds(200));
    EXPECT_EQ(jobs[4]->state.load(), kJobQueued);

    JobRunner::Cancel(*jobs[4]);  // still queued: it ends without a worker
    for (const auto& job : jobs) JobRunner::Cancel(*job);
    ASSERT_TRUE(WaitFor([&] { return Count(kJobCancelled) == 5; }));
    EXPECT_EQ(jobs[4]->status, "Cancelled");
    EXPECT_FALSE(FileExists(dir.File("started")));
    EXPECT_TRUE(WaitFor([&] { return notices.load() >= 2 * 4 + 1; }));  // start and end of each run
}

TEST(JobRunner, WorkerProcessSetup) {
    int forgotten = ::open("/dev/null", O_RDONLY);  // a descriptor the host forgot to protect
    ::setenv("TZ", "Europe/Vienna", 1);
    ::setenv("LC_TIME", "de_AT.UTF-8", 1);
    ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1);  // the session is the host's business
    auto job = NewJob({"progress:0.5;wait-cancel"});
    JobRunner runner({}, Limits(64), kFakeWorker);
    runner.Enqueue(job);
    std::string proc = "/proc/" + std::to_string(WorkerOf(job));
    for (const char* name : {"TZ", "LC_TIME", "DBUS_SESSION_BUS_ADDRESS"}) ::unsetenv(name);  // the worker runs
    ASSERT_TRUE(WaitFor([&] { return job->progress.load() == 0.5f; }));  // past loading its libraries
    ::close(forgotten);
    // Exactly the two pipe ends: input on 0, output and error on one other pipe.
    auto target = [&](int fd) { return std::filesystem::read_symlink(proc + "/fd/" + std::to_string(fd)).string(); };
    EXPECT_EQ(ListFolder(proc + "/fd"), "0|1|2");
    EXPECT_EQ(target(0).substr(0, 5), "pipe:");
    EXPECT_NE(target(0), target(1));
    EXPECT_EQ(target(1), target(2));
    EXPECT_EQ(std::filesystem::read_symlink(proc + "/cwd"), "/");
    EXPECT_EQ(::getpriority(PRIO_PROCESS, static_cast<id_t>(WorkerOf(job))), 10);
    std::string limits = ReadFile(proc + "/limits"), status = ReadFile(proc + "/status");
    std::string data = WorkerDataLimitApplies() ? std::to_string(64 << 20) : "unlimited";
    EXPECT_TRUE(std::regex_search(limits, std::regex("Max core file size +0 +0 "))) << limits;
    EXPECT_TRUE(std::regex_search(limits, std::regex("Max data size +" + data + " "))) << limits;
    EXPECT_NE(status.find("NoNewPrivs:\t1"), std::string::npos);
    // Only what a conversion reads of the host's environment, and the libraries' settings.
    std::string environment = ReadFile(proc + "/environ");
    std::set<std::string> names;
    for (const std::string& entry : Split(std::string_view(environment), '\0'))
        if (!entry.empty()) names.insert(entry.substr(0, entry.find('=')));
    for (const char* name : {"OMP_THREAD_LIMIT", "OMP_WAIT_POLICY", "GIO_USE_VFS", "TZ", "LC_TIME"})
        EXPECT_EQ(names.count(name), 1u) << name << " missing from " << environment;
    for (const std::string& name : names)
        EXPECT_TRUE(std::regex_match(name, std::regex("LANG|LANGUAGE|LC_[A-Z_]+|TZ|TMPDIR|TESSDATA_PREFIX|HOME|"
                                                      "XDG_CONFIG_HOME|OMP_THREAD_LIMIT|OMP_WAIT_POLICY|GIO_USE_VFS|"
                                                      "(A|UB|L)SAN_OPTIONS")))
            << name << " reached the worker";
    // A host that ignores broken pipes does not pass that on.
    EXPECT_EQ(std::stoull(status.substr(status.find("SigIgn:") + 8, 16), nullptr, 16) & (1ull << (SIGPIPE - 1)), 0u);
    JobRunner::Cancel(*job);
}

TEST(JobRunner, AllocationPastTheRamLimitFailsAndTheNextJobRuns) {
    if (!WorkerDataLimitApplies()) GTEST_SKIP() << "this build gives workers no data limit";
    auto greedy = NewJob({"alloc:200;done"});
    auto modest = RunJobs({greedy, NewJob({"alloc:16;done"})}, Limits(64, 1));
    EXPECT_EQ(greedy->state.load(), kJobFailed);
    // Usually the data limit makes the allocation fail; now and then the group's limit strikes first.
    EXPECT_TRUE(greedy->status == "Needed more memory than the RAM limit in Settings allows" || greedy->status == kRamText)
        << greedy->status;
    EXPECT_EQ(modest->status, "1 files converted");
}

TEST(JobRunner, ProcessorLimitHoldsForTheWorkers) {
    if (!GroupLimits(true)) GTEST_SKIP() << "no writable cpu control group here";
    // A spinning thread per processor would use the whole machine without the limit.
    auto job = RunJobs({NewJob({"busy:1000;done"})}, Limits(0, 1, 25));
    ASSERT_EQ(job->outputs.size(), 1u);
    EXPECT_LT(std::stod(job->outputs[0]), 0.25 * 1.3);
    EXPECT_GT(std::stod(job->outputs[0]), 0.25 * 0.5);
}

TEST(JobRunner, NoWorkerOutlivesTheRunnerOrItsHost) {
    TempDir dir;
    auto honours = NewJob({"pid:" + dir.File("a") + ";wait-cancel"});
    // This one leaves a child of its own behind, which only the control group can find.
    auto leaves = NewJob({"pid:" + dir.File("b") + ";spawn:" + dir.File("c") + ";wait-cancel"});
    auto waiting = NewJob({"pid:" + dir.File("d")});
    {
        JobRunner runner({}, Limits(0, 2), kFakeWorker);
        for (const auto& job : {honours, leaves, waiting}) runner.Enqueue(job);
        ASSERT_TRUE(WaitFor([&] { return FileExists(dir.File("a")) && FileExists(dir.File("c")); }));
    }
    EXPECT_TRUE(ProcessGone(ReadNumber(dir.File("a"))));
    EXPECT_TRUE(ProcessGone(ReadNumber(dir.File("b"))));
    if (GroupLimits(false) || GroupLimits(true)) {
        EXPECT_TRUE(WaitFor([&] { return ProcessGone(ReadNumber(dir.File("c"))); }, milliseconds(2000)));
    } else {
        ::kill(static_cast<pid_t>(ReadNumber(dir.File("c"))), SIGKILL);
    }
    EXPECT_EQ(honours->status, "Cancelled");
    EXPECT_EQ(leaves->status, "Cancelled");
    EXPECT_EQ(waiting->state.load(), kJobQueued);  // not started, and still queued
    EXPECT_FALSE(FileExists(dir.File("d")));

    // A killed host: the worker ignores the end of its input, only the parent-death signal ends it.
    std::string script = "ignore-cancel;pid:" + dir.File("e") + ";sleep:60000";
    const char* argv[] = {QUILL_TOOL_runner_host, kFakeWorker, script.c_str(), nullptr};
    pid_t host = -1;
    ASSERT_EQ(::posix_spawn(&host, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ), 0);
    ASSERT_TRUE(WaitFor([&] { return FileExists(dir.File("e")); }));
    long worker = ReadNumber(dir.File("e"));
    ASSERT_FALSE(ProcessGone(worker));
    std::string hostGroups = ReadFile("/proc/" + std::to_string(worker) + "/cgroup");
    ::kill(host, SIGKILL);
    ::waitpid(host, nullptr, 0);
    EXPECT_TRUE(WaitFor([&] { return ProcessGone(worker); }, milliseconds(3000)));
    // The next runner removes the group the killed host left behind.
    if (size_t name = hostGroups.find("/quillaven-"); name != std::string::npos) {
        std::string group = hostGroups.substr(name + 1, hostGroups.find('\n', name) - name - 1);
        JobRunner next({}, Limits(), kFakeWorker);
        EXPECT_EQ(RunCommand("find /sys/fs/cgroup -maxdepth 4 -name " + group).output, "") << group;
    }
}

TEST(JobRunner, KilledWorkersLeaveNoPartialOutputAndNoTemporary) {
    TempDir dir;
    std::string text;
    for (int line = 0; text.size() < (4u << 20); ++line) text += "Line " + std::to_string(line) + " of a long text\n";
    WriteFile(dir.File("big.txt"), text);
    auto clean = [&](const std::string& what) {
        std::string listing = ListFolder(dir.path());
        if (listing == "big.txt") return;
        // The conversion may have finished before the kill: then its output is whole.
        EXPECT_EQ(listing, "big.pdf|big.txt") << what;
        EXPECT_TRUE(ReadFile(dir.File("big.pdf")).ends_with("%%EOF\n")) << what;
        ::unlink(dir.File("big.pdf").c_str());
    };
    // SIGKILL from outside at random moments of a real conversion.
    std::mt19937 random(20261207);
    for (int round = 0; round < 6; ++round) {
        auto job = MakeJob({dir.File("big.txt")}, Target{kPdf, 0, ""});
        JobRunner runner({}, Limits(), QUILL_PROGRAM);
        runner.Enqueue(job);
        pid_t worker = WorkerOf(job);
        if (round == 0) {  // the real worker runs sandboxed
            EXPECT_TRUE(WaitFor([&] {
                return ReadFile("/proc/" + std::to_string(worker) + "/status").find("Seccomp:\t2") != std::string::npos;
            }));
        }
        std::this_thread::sleep_for(milliseconds(random() % 700));
        ::kill(worker, SIGKILL);
        ASSERT_TRUE(WaitFor([&] { return Final(job); }));
        EXPECT_TRUE(job->state == kJobSucceeded || job->status == "The conversion stopped unexpectedly") << job->status;
        clean("round " + std::to_string(round));
    }
    // A worker that writes under hidden names and then ignores the cancel, killed after the
    // grace; one killed by the RAM limit of the workers' group.
    auto ignores = NewJob({dir.File("x;hidden;ignore-cancel;sleep:30000")});
    {
        JobRunner runner({}, Limits(), kFakeWorker);
        runner.Enqueue(ignores);
        ASSERT_TRUE(WaitFor([&] { return ignores->outputs.size() == 1; }));
        EXPECT_EQ(std::regex_replace(ListFolder(dir.path()), std::regex("[0-9]+-[0-9]+"), "N"),
                  ".quillaven-N.pdf|.quillaven-N.d|big.txt");
        JobRunner::Cancel(*ignores);
        ASSERT_TRUE(WaitFor([&] { return Final(ignores); }));
    }
    EXPECT_EQ(ignores->status, "Cancelled");
    clean("after the cancel grace");
    if (GroupLimits(false)) {
        auto greedy = NewJob({dir.File("x;hidden;shm:256;done")});
        RunJobs({greedy}, Limits(64));
        EXPECT_EQ(greedy->status, kRamText);  // the memory controller recorded the kill
        EXPECT_EQ(greedy->outputs, std::vector<std::string>{"hidden"});
        clean("after the RAM limit");
    }
}

TEST(JobRunner, SixteenConversionsOfOneFileGiveSixteenWholeOutputs) {
    REQUIRE_TOOL("unzip");
    TempDir dir;
    std::string input = dir.File("report.docx");
    WriteFile(input, ReadFile(DataPath("corpus/documents/docx/docx-headers.docx")));
    std::vector<std::shared_ptr<Job>> jobs;
    for (int i = 0; i < 16; ++i) jobs.push_back(MakeJob({input}, Target{kOdt, 0, ""}));
    RunJobs(jobs, Limits(0, 4), QUILL_PROGRAM);
    std::set<std::string> outputs;
    for (const auto& job : jobs) {
        EXPECT_EQ(job->state.load(), kJobSucceeded) << job->status;
        if (job->outputs.size() == 1) outputs.insert(job->outputs[0]);
    }
    ASSERT_EQ(outputs.size(), 16u);
    std::string first = ReadFile(*outputs.begin());
    for (const std::string& output : outputs) {
        EXPECT_EQ(ReadFile(output), first) << output;  // whole, and the same document
        EXPECT_EQ(RunCommand("unzip -tq " + ShellQuote(output)).exitCode, 0) << output;
    }
    EXPECT_EQ(outputs.count(dir.File("report.odt")) + outputs.count(dir.File("report (16).odt")), 2u);
}

TEST(JobRunner, AWorkerCannotReachItsHostNorLoosenItsLimits) {
    JobRunner runner({}, Limits(4096), kFakeWorker);
    EXPECT_EQ(::prctl(PR_GET_DUMPABLE), 0);  // no one of our user may read or trace the host
    auto refused = NewJob({"sandbox;try-refused;done"});
    auto int80 = NewJob({"sandbox;foreign:int80;done"});
    auto x32 = NewJob({"sandbox;foreign:x32;done"});
    for (const auto& job : {refused, int80, x32}) runner.Enqueue(job);
    ASSERT_TRUE(WaitFor([&] { return Final(refused) && Final(int80) && Final(x32); }));
    EXPECT_EQ(refused->outputs,
              (std::vector<std::string>{"ptrace=EPERM", "process_vm_readv=EPERM", "process_vm_writev=EPERM",
                                        "pidfd_open=EPERM", "pidfd_getfd=EPERM", "setrlimit=EPERM", "prlimit64=EPERM",
                                        "personality=EPERM", "add_key=EPERM", "request_key=EPERM", "keyctl=EPERM",
                                        "getrlimit=ok", "personality-query=ok", "thread=ok", "host-mem=EACCES",
                                        "host-seize=EPERM"}));
    // A call of another architecture ends the whole worker at once (not only its thread, which
    // would leave the rest waiting forever); a RAM limit is set, but no memory ran out.
    for (const auto& job : {int80, x32}) {
        EXPECT_TRUE(job->outputs.empty());
        EXPECT_EQ(job->status, "The conversion stopped unexpectedly");
    }
}
