// Starting one worker process and waiting on it, below the job runner.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/worker_process.h"

namespace {

const char* const kFakeWorker = QUILL_TOOL_fake_worker;

// Everything the worker writes until its output ends.
std::string ReadAll(WorkerProcess& worker) {
    std::string text;
    char chunk[4096];
    for (;;) {
        ptrdiff_t got = worker.ReadOutput(chunk, sizeof chunk);
        if (got > 0) {
            text.append(chunk, static_cast<size_t>(got));
        } else if (got == 0) {
            return text;
        } else {
            worker.Wait(-1, 1000);
        }
    }
}

double ThreadCpuSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

}  // namespace

TEST(WorkerProcess, RunsAndReportsItsExitCode) {
    auto worker = WorkerProcess::Start(kFakeWorker, nullptr, 0);
    ASSERT_TRUE(worker);
    ASSERT_EQ(worker->WriteAll("PNG 0 -\ndone;exit:3\n\n", {}), WorkerProcess::WriteResult::kWritten);
    EXPECT_EQ(ReadAll(*worker), "file 0\ndone 0\n");
    EXPECT_EQ(worker->Reap(), 3);
}

TEST(WorkerProcess, SignalEndsAreNonZero) {
    auto worker = WorkerProcess::Start(kFakeWorker, nullptr, 0);
    ASSERT_TRUE(worker);
    worker->WriteAll("PNG 0 -\ncrash\n\n", {});
    ReadAll(*worker);
    EXPECT_EQ(worker->Reap(), 128 + SIGSEGV);
}

TEST(WorkerProcess, MissingProgramIsNoWorker) {
    EXPECT_FALSE(WorkerProcess::Start("/nonexistent/worker", nullptr, 0));
    EXPECT_FALSE(WorkerProcess::Start("/etc/hostname", nullptr, 0));  // not executable
}

TEST(WorkerProcess, WriteToAWorkerThatEndedFails) {
    IgnoreBrokenPipes();  // as every host does
    auto worker = WorkerProcess::Start(kFakeWorker, nullptr, 0);
    ASSERT_TRUE(worker);
    // An unknown format ends the worker after the first line; the rest cannot be delivered.
    std::string request = "NOPE 0 -\n" + std::string(4 << 20, 'x');
    EXPECT_EQ(worker->WriteAll(request, {}), WorkerProcess::WriteResult::kFailed);
    EXPECT_EQ(worker->Reap(), 2);
}

TEST(WorkerProcess, BlockedWriteStopsWhenAsked) {
    auto worker = WorkerProcess::Start(kFakeWorker, nullptr, 0);
    ASSERT_TRUE(worker);
    // The worker reads the request's inputs and then sleeps; the oversized remainder waits.
    std::string request = "PNG 0 -\nignore-cancel;sleep:10000\n\n" + std::string(8 << 20, 'x');
    int asked = 0;
    EXPECT_EQ(worker->WriteAll(request, [&] { return ++asked > 3; }), WorkerProcess::WriteResult::kStopped);
    worker->Kill();
    EXPECT_EQ(worker->Reap(), 128 + SIGKILL);
}

TEST(WorkerProcess, WaitSleepsUntilWoken) {
    auto worker = WorkerProcess::Start(kFakeWorker, nullptr, 0);
    ASSERT_TRUE(worker);
    worker->WriteAll("PNG 0 -\nwait-cancel\n\n", {});
    int wake = CreateWakeSignal();
    ASSERT_GE(wake, 0);
    // Skip the "file 0" line, then sleep on the quiet worker.
    char chunk[64];
    while (worker->ReadOutput(chunk, sizeof chunk) <= 0) worker->Wait(-1, 1000);
    std::thread waker([wake] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        SignalWake(wake);
    });
    double cpuBefore = ThreadCpuSeconds();
    auto start = std::chrono::steady_clock::now();
    unsigned events = worker->Wait(wake, -1);
    auto waited = std::chrono::steady_clock::now() - start;
    double cpu = ThreadCpuSeconds() - cpuBefore;
    waker.join();
    EXPECT_EQ(events, unsigned(WorkerProcess::kWoken));
    EXPECT_GT(waited, std::chrono::milliseconds(200));
    EXPECT_LT(cpu, 0.02);
    // The count was cleared: the next wait times out.
    EXPECT_EQ(worker->Wait(wake, 50), 0u);
    CloseWakeSignal(wake);
    EXPECT_TRUE(WriteControlLine(worker->Input(), "cancel\n"));
    EXPECT_EQ(ReadAll(*worker), "cancelled\n");
    EXPECT_EQ(worker->Reap(), 0);
}

TEST(WorkerProcess, QuietAfterItsOutputEnded) {
    // A worker that closed its output but still runs: waiting must not spin on the ended pipe.
    auto worker = WorkerProcess::Start(kFakeWorker, nullptr, 0);
    ASSERT_TRUE(worker);
    worker->WriteAll("PNG 0 -\nclose-output;ignore-cancel;sleep:400\n\n", {});
    EXPECT_EQ(ReadAll(*worker), "file 0\n");
    double cpuBefore = ThreadCpuSeconds();
    while (!(worker->Wait(-1, -1) & WorkerProcess::kExited)) {
    }
    EXPECT_LT(ThreadCpuSeconds() - cpuBefore, 0.02);
    EXPECT_EQ(worker->Reap(), 0);
}

TEST(WorkerProcess, StandardStreamsOfTheHostClosed) {
    // pipe2 then hands out 0 to 2 for the worker's own pipes; they must still end up in place
    // (a pipe end left on its own number keeps its close-on-exec flag and vanishes at exec).
    int saved[3];
    for (int fd = 0; fd < 3; ++fd) saved[fd] = ::dup(fd);
    for (int fd = 0; fd < 3; ++fd) ::close(fd);
    bool started = false;
    int exitCode = -1;
    std::string output;
    {
        // The host's own pipe ends may sit on 0 to 2 now: all of it ends before they are restored.
        auto worker = WorkerProcess::Start(kFakeWorker, nullptr, 0);
        started = worker != nullptr;
        if (worker) {
            worker->WriteAll("PNG 0 -\nreport-fds;done\n\n", {});
            output = ReadAll(*worker);
            exitCode = worker->Reap();
        }
    }
    for (int fd = 0; fd < 3; ++fd) {
        ::dup2(saved[fd], fd);
        ::close(saved[fd]);
    }
    ASSERT_TRUE(started);
    EXPECT_EQ(exitCode, 0);
    EXPECT_NE(output.find("output fds 0=pipe:"), std::string::npos) << output;
    EXPECT_NE(output.find("done 0"), std::string::npos) << output;
}

TEST(WorkerProcess, DataLimitOfARunningWorkerChanges) {
    if (!WorkerDataLimitApplies()) GTEST_SKIP() << "this build gives workers no data limit";
    auto worker = WorkerProcess::Start(kFakeWorker, nullptr, 100);
    ASSERT_TRUE(worker);
    worker->WriteAll("PNG 0 -\nwait-cancel\n\n", {});
    rlimit data{};
    ASSERT_EQ(::prlimit(worker->Id(), RLIMIT_DATA, nullptr, &data), 0);
    EXPECT_EQ(data.rlim_cur, rlim_t(100) << 20);
    SetWorkerDataLimit(worker->Id(), 300);
    ::prlimit(worker->Id(), RLIMIT_DATA, nullptr, &data);
    EXPECT_EQ(data.rlim_cur, rlim_t(300) << 20);
    SetWorkerDataLimit(worker->Id(), 0);
    ::prlimit(worker->Id(), RLIMIT_DATA, nullptr, &data);
    EXPECT_EQ(data.rlim_cur, data.rlim_max);
    worker.reset();  // kills and reaps
}
