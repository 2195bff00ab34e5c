// The worker process: the program's own worker mode, its confinement, and starting and
// waiting on a worker from the host's side (with the scripted tools/fake_worker).
#include <gtest/gtest.h>
#include <sched.h>
#include <seccomp.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <ctime>
#include <thread>

#include "platform/worker_process.h"
#include "platform/worker_sandbox.h"
#include "support/test_support.h"
#include "worker.h"

using namespace testing_support;

namespace {

#if defined(__clang__)
#pragma clang diagnostic ignored "-Wc99-extensions"
#endif

const char* const kFakeWorker = QUILL_TOOL_fake_worker;
const std::string kLimits = "limits 60 70 1536 4096 2 1 1\n";

// Everything the worker writes until its output ends.
std::string ReadAll(WorkerProcess& worker) {
    std::string text;
    char chunk[4096];
    for (ptrdiff_t got; (got = worker.ReadOutput(chunk, sizeof chunk)) != 0;) {
        if (got > 0) text.append(chunk, static_cast<size_t>(got));
        if (got < 0) worker.Wait(-1, 1000);
    }
    return text;
}

// Sends the program's worker mode a request; its input stays open unless `closeInput`
// (its end means a cancel). Returns what it wrote and its exit code.
std::pair<std::string, int> RunWorker(const std::string& request, bool closeInput = false) {
    auto worker = WorkerProcess::Start(QUILL_PROGRAM, nullptr, 0);
    if (!worker) return {"not started", -1};
    worker->WriteAll(request, {});
    if (closeInput) worker->CloseInput();
    std::string output = ReadAll(*worker);
    return {output, worker->Reap()};
}

// Runs `body` in a child process and returns its exit code: the sandbox and the
// priorities change the whole process, which the test runner must not suffer.
int InChild(void (*body)()) {
    pid_t child = ::fork();
    if (child == 0) {
        body();
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

}  // namespace

TEST(ProgressThrottle, DropsSmallQuickStepsAndRepeats) {
    worker::ProgressThrottle throttle;
    EXPECT_TRUE(throttle.Accept(0.1, 1000));
    EXPECT_FALSE(throttle.Accept(0.102, 1020));
    EXPECT_TRUE(throttle.Accept(0.105, 1030));   // a step of at least 0.004
    EXPECT_FALSE(throttle.Accept(0.105, 5000));  // an exact repeat, however late
    EXPECT_TRUE(throttle.Accept(0.106, 1280));   // 250 ms after the last line
    EXPECT_FALSE(throttle.Accept(0.05, 1290));   // backward and quick
    EXPECT_TRUE(throttle.Accept(-1.0, 1300));    // not measurable is always news
    EXPECT_FALSE(throttle.Accept(-1.0, 1310));
    EXPECT_TRUE(throttle.Accept(0.999, 10000));
    EXPECT_FALSE(throttle.Accept(1.0, 10249));  // even the last step waits for the interval
    EXPECT_TRUE(throttle.Accept(1.0, 10250));
    EXPECT_EQ(worker::ProgressLine(-1.0), "progress -1.0000");
    EXPECT_EQ(worker::ProgressLine(0.12345), "progress 0.1235");
}

TEST(Worker, RefusesARequestItCannotReadSilently) {
    for (const std::string& request : {"png 0 -\n/tmp/a.png\n\n" + kLimits, "PNG 0 -\n\n" + kLimits, std::string()})
        EXPECT_EQ(RunWorker(request, true), std::make_pair(std::string(), 2)) << request;
}

TEST(Worker, AFailingInputDoesNotStopTheJobAndPathsTravelUnchanged) {
    TempDir dir;
    std::string folder = dir.File("Fotos von Jürgen");
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    WriteFile(folder + "/Café menu", "x");  // no extension: fails after the path checks
    auto [output, exitCode] = RunWorker("PDF 0 -\n" + dir.File("missing.txt") + "\n" + folder + "/Café menu\r\n" +
                                        "relative.txt\n\n" + kLimits);
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(output,
              "file 0\nerror 0 The file no longer exists\n"
              "file 1\nerror 1 Quillaven doesn't know this file type\n"
              "file 2\nerror 2 Only files on this PC can be converted\n");
}

TEST(WorkerSandbox, NoProcessesButThreadsAndLowPriorityForEveryThread) {
    EXPECT_EQ(InChild([] {
                  if (!InstallWorkerSandbox()) ::_exit(1);
                  std::thread([] {}).join();  // a refused thread would end the process
                  if (::fork() != -1) ::_exit(2);
                  char* argv[] = {const_cast<char*>("/bin/false"), nullptr};  // exits 1 if it runs
                  pid_t pid;
                  if (::posix_spawn(&pid, argv[0], nullptr, nullptr, argv, nullptr) == 0) ::_exit(3);
                  ::execv(argv[0], argv);
                  ::_exit(0);  // exec failed, as it must
              }),
              0);
    EXPECT_EQ(InChild([] {
                  std::atomic<pid_t> helper{0};
                  std::thread thread([&] {
                      helper = ::gettid();
                      ::pause();
                  });
                  while (helper == 0) std::this_thread::yield();
                  SetProcessPriority(true);
                  if (::getpriority(PRIO_PROCESS, 0) != 19) ::_exit(1);
                  if (::getpriority(PRIO_PROCESS, static_cast<id_t>(helper.load())) != 19) ::_exit(2);
                  ::_exit(::sched_getscheduler(helper) == SCHED_IDLE ? 0 : 3);  // ends the paused thread too
              }),
              0);
}

TEST(WorkerProcess, WritesThatCannotFinish) {
    IgnoreBrokenPipes();  // as every host does
    auto ends = WorkerProcess::Start(kFakeWorker, nullptr, 0), sleeps = WorkerProcess::Start(kFakeWorker, nullptr, 0);
    ASSERT_TRUE(ends && sleeps);
    // An unknown format ends the worker after the first line; the rest cannot be delivered.
    EXPECT_EQ(ends->WriteAll("NOPE 0 -\n" + std::string(4 << 20, 'x'), {}), WorkerProcess::WriteResult::kFailed);
    EXPECT_EQ(ends->Reap(), 2);
    // This one reads its inputs and sleeps: the oversized rest waits until the writer is told to stop.
    int asked = 0;
    std::string request = "PNG 0 -\nignore-cancel;sleep:10000\n\n" + std::string(8 << 20, 'x');
    EXPECT_EQ(sleeps->WriteAll(request, [&] { return ++asked > 3; }), WorkerProcess::WriteResult::kStopped);
    sleeps->Kill();
    EXPECT_EQ(sleeps->Reap(), 128 + SIGKILL);
}

TEST(WorkerProcess, WaitingNeverSpins) {
    auto worker = WorkerProcess::Start(kFakeWorker, nullptr, 0);
    ASSERT_TRUE(worker);
    worker->WriteAll("PNG 0 -\nclose-output;sleep:400\n\n", {});
    EXPECT_EQ(ReadAll(*worker), "file 0\n");
    int wake = CreateWakeSignal();
    SignalWake(wake);
    std::clock_t cpuBefore = std::clock();
    EXPECT_EQ(worker->Wait(wake, -1), unsigned(WorkerProcess::kWoken));
    // Neither the ended output nor a wake already seen may end the next wait at once.
    while (!(worker->Wait(wake, -1) & WorkerProcess::kExited)) {
    }
    EXPECT_LT(std::clock() - cpuBefore, CLOCKS_PER_SEC / 50);
    CloseWakeSignal(wake);
    EXPECT_EQ(worker->Reap(), 0);
}

TEST(WorkerProcess, StandardStreamsOfTheHostClosed) {
    // pipe2 then hands out 0 to 2 for the worker's own pipes; they must still end up in place
    // (a pipe end left on its own number keeps its close-on-exec flag and vanishes at exec).
    int saved[3];
    for (int fd = 0; fd < 3; ++fd) saved[fd] = ::dup(fd);  // all before any is closed
    for (int fd = 0; fd < 3; ++fd) ::close(fd);
    std::string output = "not started";
    if (auto worker = WorkerProcess::Start(kFakeWorker, nullptr, 0)) {
        worker->WriteAll("PNG 0 -\ndone 0\n\n", {});
        output = ReadAll(*worker) + "exit " + std::to_string(worker->Reap());
    }  // the host's own pipe ends may sit on 0 to 2: all of it ends before they are restored
    for (int fd = 0; fd < 3; ++fd) {
        ::dup2(saved[fd], fd);
        ::close(saved[fd]);
    }
    EXPECT_EQ(output, "file 0\ndone 0\nexit 0");  // it read its request and wrote its lines
}

TEST(Worker, WithoutItsSandboxItConvertsNothing) {
    // A kernel (or an outer sandbox) that refuses new filters: the worker reports every input
    // as failed instead of converting it unprotected.
    int input[2], output[2];
    ASSERT_EQ(::pipe(input), 0);
    ASSERT_EQ(::pipe(output), 0);
    pid_t child = ::fork();
    if (child == 0) {
        ::dup2(input[0], STDIN_FILENO);
        ::dup2(output[1], STDOUT_FILENO);
        scmp_filter_ctx refuse = seccomp_init(SCMP_ACT_ALLOW);
        seccomp_rule_add(refuse, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(seccomp), 0);
        seccomp_rule_add(refuse, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(prctl), 1, SCMP_A0(SCMP_CMP_EQ, PR_SET_SECCOMP, 0));
        if (seccomp_load(refuse) != 0) ::_exit(100);
        ::_exit(worker::WorkerMain());
    }
    ::close(input[0]);
    ::close(output[1]);
    std::string request = "PDF 0 -\n/tmp/a.txt\n/tmp/b.txt\n\n" + kLimits;
    ASSERT_EQ(::write(input[1], request.data(), request.size()), static_cast<ssize_t>(request.size()));
    ::close(input[1]);
    std::string lines;
    char chunk[256];
    for (ssize_t got; (got = ::read(output[0], chunk, sizeof chunk)) > 0;) lines.append(chunk, static_cast<size_t>(got));
    ::close(output[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0);
    EXPECT_EQ(lines, "file 0\nerror 0 Couldn't start the converter\nfile 1\nerror 1 Couldn't start the converter\n");
}
