#include <gtest/gtest.h>

#include <sched.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "platform/worker_sandbox.h"
#include "support/process_support.h"
#include "support/test_support.h"
#include "worker.h"

using testing_support::ChildProcess;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

constexpr const char* kLimits = "limits 60 70 1536 4096 2 1 1\n";

struct WorkerRun {
    std::string output;
    int exitCode;
};

WorkerRun RunWorker(const std::string& request, bool closeInput = true) {
    ChildProcess worker({QUILL_PROGRAM, "--worker"});
    worker.Write(request);
    if (closeInput) worker.CloseInput();
    std::string output = worker.ReadAll();
    return {output, worker.Wait()};
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
    EXPECT_FALSE(throttle.Accept(0.101, 1010));
    EXPECT_FALSE(throttle.Accept(0.102, 1020));
    EXPECT_TRUE(throttle.Accept(0.105, 1030));   // a step of at least 0.004
    EXPECT_FALSE(throttle.Accept(0.105, 5000));  // an exact repeat, however late
    EXPECT_TRUE(throttle.Accept(0.106, 1300));   // 250 ms after the last line
    EXPECT_FALSE(throttle.Accept(0.05, 1310));   // backward and quick
    EXPECT_TRUE(throttle.Accept(-1.0, 1320));    // not measurable is always news
    EXPECT_FALSE(throttle.Accept(-1.0, 1330));
}

TEST(ProgressThrottle, FinalStepNeedsTheInterval) {
    worker::ProgressThrottle throttle;
    EXPECT_TRUE(throttle.Accept(0.999, 10000));
    EXPECT_FALSE(throttle.Accept(1.0, 10100));
    EXPECT_TRUE(throttle.Accept(1.0, 10250));
}

TEST(ProgressLine, FourDecimalsAndASign) {
    EXPECT_EQ(worker::ProgressLine(-1.0), "progress -1.0000");
    EXPECT_EQ(worker::ProgressLine(0.12345), "progress 0.1235");
    EXPECT_EQ(worker::ProgressLine(1.0), "progress 1.0000");
}

TEST(Worker, RefusesARequestItCannotRead) {
    WorkerRun lowerCase = RunWorker(std::string("png 0 -\n/tmp/a.png\n\n") + kLimits);
    EXPECT_EQ(lowerCase.exitCode, 2);
    EXPECT_EQ(lowerCase.output, "");
    WorkerRun noInputs = RunWorker(std::string("PNG 0 -\n\n") + kLimits);
    EXPECT_EQ(noInputs.exitCode, 2);
    EXPECT_EQ(noInputs.output, "");
    WorkerRun nothing = RunWorker("");
    EXPECT_EQ(nothing.exitCode, 2);
    EXPECT_EQ(nothing.output, "");
}

TEST(Worker, AFailingInputDoesNotStopTheJob) {
    TempDir dir;
    WriteFile(dir.File("notes"), "no extension");
    std::string request = "PDF 0 -\n" + dir.File("missing.txt") + "\n" + dir.File("notes") + "\nrelative.txt\n\n" + kLimits;
    WorkerRun run = RunWorker(request, false);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output,
              "file 0\nerror 0 The file no longer exists\n"
              "file 1\nerror 1 Quillaven doesn't know this file type\n"
              "file 2\nerror 2 Only files on this PC can be converted\n");
}

TEST(Worker, PathsWithSpacesAndNonAsciiTravelUnchanged) {
    TempDir dir;
    std::string folder = dir.File("Fotos von Jürgen");
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    std::string path = folder + "/Café menu";  // no extension: fails after the path checks
    WriteFile(path, "x");
    WorkerRun run = RunWorker("TXT 0 -\n" + path + "\r\n\n" + kLimits, false);
    EXPECT_EQ(run.output, "file 0\nerror 0 Quillaven doesn't know this file type\n");
}

TEST(WorkerSandbox, NoProcessesButThreads) {
    EXPECT_EQ(InChild([] {
                  if (!InstallWorkerSandbox()) ::_exit(1);
                  bool threadRan = false;
                  std::thread([&] { threadRan = true; }).join();
                  if (!threadRan) ::_exit(2);
                  if (::fork() != -1) ::_exit(3);
                  char* argv[] = {const_cast<char*>("/bin/true"), nullptr};
                  pid_t pid;
                  if (::posix_spawn(&pid, "/bin/true", nullptr, nullptr, argv, nullptr) == 0) ::_exit(4);
                  ::execv("/bin/true", argv);
                  ::_exit(0);  // exec failed, as it must
              }),
              0);
}

TEST(WorkerPriority, LowPriorityReachesEveryThread) {
    EXPECT_EQ(InChild([] {
                  std::atomic<bool> stop{false};
                  std::atomic<pid_t> helper{0};
                  std::thread thread([&] {
                      helper = ::gettid();
                      while (!stop) std::this_thread::sleep_for(std::chrono::milliseconds(1));
                  });
                  while (helper == 0) std::this_thread::yield();
                  SetProcessPriority(true);
                  int result = 0;
                  if (::getpriority(PRIO_PROCESS, 0) != 19) result = 1;
                  if (::getpriority(PRIO_PROCESS, static_cast<id_t>(helper.load())) != 19) result = 2;
                  if (::sched_getscheduler(helper) != SCHED_IDLE) result = 3;
                  stop = true;
                  thread.join();
                  ::_exit(result);
              }),
              0);
}
