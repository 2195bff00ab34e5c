#include "platform/worker_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <vector>

#include "platform/worker_group.h"

extern char** environ;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kDataLimit = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kDataLimit = false;
#else
constexpr bool kDataLimit = true;
#endif
#else
constexpr bool kDataLimit = true;
#endif

constexpr int kWorkerNice = 10;              // below normal, as every worker starts
constexpr int kPollWithoutPidfdMs = 100;     // how often to look for an ended worker without a pidfd
constexpr int kWriteWaitMs = 100;            // how often a blocked request write asks whether to stop
constexpr int kReportFd = 3;                 // where the child keeps its error pipe until exec
constexpr size_t kMaxPipeBytes = 1 << 20;    // the request pipe grows to fit at most this much
constexpr int kCloseFallbackLimit = 65536;   // descriptors closed one by one without close_range

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// The child's pipe ends must not sit on 0 to 2 (a host started with a closed standard
// stream gets those numbers back from pipe2), or moving them into place would clobber one.
bool MoveAboveStandardStreams(int& fd) {
    if (fd > STDERR_FILENO) return true;
    int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (moved < 0) return false;
    ::close(fd);
    fd = moved;
    return true;
}

int OpenPidfd(pid_t pid) {
#ifdef SYS_pidfd_open
    long fd = ::syscall(SYS_pidfd_open, pid, 0);
    return fd < 0 ? -1 : static_cast<int>(fd);
#else
    (void)pid;
    return -1;
#endif
}

// Host variables a conversion reads: the locale, the time zone, the temporary folder,
// tesseract's data, and where the settings live. Nothing else of the host's environment
// (session bus, display, credentials in variables) reaches a worker.
bool KeptForWorkers(std::string_view entry) {
    static constexpr std::string_view kKept[] = {"LANG=", "LANGUAGE=", "TZ=", "TMPDIR=", "TESSDATA_PREFIX=",
                                                  "HOME=", "XDG_CONFIG_HOME="};
    for (std::string_view kept : kKept)
        if (entry.starts_with(kept)) return true;
    if (entry.starts_with("LC_")) return true;
    // The sanitizers' own settings, in the builds that have them.
    return !kDataLimit && (entry.starts_with("ASAN_OPTIONS=") || entry.starts_with("UBSAN_OPTIONS=") ||
                           entry.starts_with("LSAN_OPTIONS="));
}

std::vector<std::string> WorkerEnvironment() {
    std::vector<std::string> environment;
    for (char** entry = environ; entry && *entry; ++entry)
        if (KeptForWorkers(*entry)) environment.emplace_back(*entry);
    // Read by libgomp (tesseract, libraw) only when it loads: no more threads than processors,
    // and threads that sleep instead of spinning while they wait.
    environment.push_back("OMP_THREAD_LIMIT=" + std::to_string(std::max(1L, ::sysconf(_SC_NPROCESSORS_ONLN))));
    environment.emplace_back("OMP_WAIT_POLICY=PASSIVE");
    // GIO must not try to start a D-Bus helper, which the sandbox would refuse.
    environment.emplace_back("GIO_USE_VFS=local");
    return environment;
}

// Everything the child needs, prepared before fork: after it only async-signal-safe
// system calls run.
struct ChildPlan {
    const char* path;
    char* argv[3];
    char* const* envp;
    int input;     // read end of the request pipe
    int output;    // write end of the report pipe
    int report;    // write end of the error pipe (close-on-exec)
    int go;        // read end of a pipe the host writes to once it moved the child into its group; -1: none
    int goWriter;  // its write end, which the child closes so that the host's close is seen
    const int* joins;
    size_t joinCount;
    bool limitData;
    rlimit data;
    pid_t parent;
    int closeLimit;
};

[[noreturn]] void ChildFail(int report) {
    int error = errno;
    ssize_t ignored = ::write(report, &error, sizeof error);
    (void)ignored;
    ::_exit(127);
}

[[noreturn]] void RunChild(const ChildPlan& plan) {
    int report = plan.report;
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    ::sigaction(SIGPIPE, &standard, nullptr);  // an ignored signal would survive exec

    // Into the group first, so the worker never runs outside the shared limits: by itself,
    // or by the host, which says when it is done.
    if (plan.go >= 0) {
        ::close(plan.goWriter);
        char done = 0;
        ssize_t got;
        do {
            got = ::read(plan.go, &done, 1);
        } while (got < 0 && errno == EINTR);
        if (got != 1) ::_exit(127);  // the host could not move it: it must not run
    }
    for (size_t i = 0; i < plan.joinCount; ++i)
        if (::write(plan.joins[i], "0", 1) != 1) ChildFail(report);
    if (plan.limitData && ::setrlimit(RLIMIT_DATA, &plan.data) != 0) ChildFail(report);
    rlimit noCore{0, 0};
    if (::setrlimit(RLIMIT_CORE, &noCore) != 0) ChildFail(report);
    ::setpriority(PRIO_PROCESS, 0, kWorkerNice);  // fails only when already lower; that is fine
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) ChildFail(report);
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0) != 0) ChildFail(report);
    if (::getppid() != plan.parent) ::_exit(127);  // the host died before the line above
    if (::chdir("/") != 0) ChildFail(report);

    if (::dup2(plan.input, STDIN_FILENO) < 0 || ::dup2(plan.output, STDOUT_FILENO) < 0 ||
        ::dup2(plan.output, STDERR_FILENO) < 0)
        ChildFail(report);
    if (report != kReportFd) {
        if (::dup2(report, kReportFd) < 0 || ::fcntl(kReportFd, F_SETFD, FD_CLOEXEC) != 0) ChildFail(report);
        report = kReportFd;
    }
    if (::syscall(SYS_close_range, kReportFd + 1, ~0U, 0) != 0)
        for (int fd = kReportFd + 1; fd < plan.closeLimit; ++fd) ::close(fd);

    ::execve(plan.path, plan.argv, plan.envp);
    ChildFail(report);
}

}  // namespace

std::unique_ptr<WorkerProcess> WorkerProcess::Start(const std::string& path, WorkerGroup* group, int32_t ramMB) {
    int input[2] = {-1, -1}, output[2] = {-1, -1}, report[2] = {-1, -1}, go[2] = {-1, -1};
    auto closeAll = [&] {
        for (int* pair : {input, output, report, go}) {
            CloseFd(pair[0]);
            CloseFd(pair[1]);
        }
    };
    if (::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(output, O_CLOEXEC) != 0 || ::pipe2(report, O_CLOEXEC) != 0 ||
        !MoveAboveStandardStreams(input[0]) || !MoveAboveStandardStreams(output[1]) ||
        !MoveAboveStandardStreams(report[1]) || (group && group->AttachedByHost() && ::pipe2(go, O_CLOEXEC) != 0)) {
        closeAll();
        return nullptr;
    }

    static const char kWorkerSwitch[] = "--worker";
    ChildPlan plan{};
    plan.path = path.c_str();
    plan.argv[0] = const_cast<char*>(path.c_str());
    plan.argv[1] = const_cast<char*>(kWorkerSwitch);
    plan.argv[2] = nullptr;
    std::vector<std::string> environment = WorkerEnvironment();
    std::vector<char*> envp;
    for (std::string& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    plan.envp = envp.data();
    plan.input = input[0];
    plan.output = output[1];
    plan.report = report[1];
    plan.go = go[0];
    plan.goWriter = go[1];
    static const std::vector<int> kNoGroup;
    const std::vector<int>& joins = group ? group->JoinDescriptors() : kNoGroup;
    plan.joins = joins.data();
    plan.joinCount = joins.size();
    plan.limitData = kDataLimit && ramMB >= 1;
    if (plan.limitData) {
        // Only the soft limit: the host may raise it again later without privileges.
        ::getrlimit(RLIMIT_DATA, &plan.data);
        rlim_t bytes = static_cast<rlim_t>(ramMB) * 1048576;
        if (plan.data.rlim_max == RLIM_INFINITY || bytes < plan.data.rlim_max) plan.data.rlim_cur = bytes;
        else plan.data.rlim_cur = plan.data.rlim_max;
    }
    plan.parent = ::getpid();
    rlimit files{};
    plan.closeLimit = ::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < static_cast<rlim_t>(kCloseFallbackLimit)
                          ? static_cast<int>(files.rlim_cur)
                          : kCloseFallbackLimit;

    pid_t pid = ::fork();
    if (pid < 0) {
        closeAll();
        return nullptr;
    }
    if (pid == 0) RunChild(plan);

    CloseFd(input[0]);
    CloseFd(output[1]);
    CloseFd(report[1]);
    CloseFd(go[0]);
    bool joined = true;
    if (go[1] >= 0) {
        // Released only once it is in the group; closing the pipe unwritten ends it.
        joined = group->Attach(pid);
        if (joined) {
            ssize_t ignored = ::write(go[1], "1", 1);
            (void)ignored;
        }
        CloseFd(go[1]);
    }
    // The error pipe closes at exec: nothing to read means the worker runs.
    int childError = 0;
    ssize_t got;
    do {
        got = ::read(report[0], &childError, sizeof childError);
    } while (got < 0 && errno == EINTR);
    CloseFd(report[0]);
    std::unique_ptr<WorkerProcess> worker(new WorkerProcess);
    worker->pid_ = pid;
    worker->input_ = input[1];
    worker->output_ = output[0];
    if (got != 0 || !joined) {
        worker.reset();  // kills (if needed), reaps and closes
        return nullptr;
    }
    ::fcntl(worker->input_, F_SETFL, ::fcntl(worker->input_, F_GETFL) | O_NONBLOCK);
    ::fcntl(worker->output_, F_SETFL, ::fcntl(worker->output_, F_GETFL) | O_NONBLOCK);
    worker->exitFd_ = OpenPidfd(pid);
    return worker;
}

WorkerProcess::~WorkerProcess() {
    CloseInput();
    CloseOutput();
    if (!reaped_) {
        Kill();
        Reap();
    }
    CloseFd(exitFd_);
}

WorkerProcess::WriteResult WorkerProcess::WriteAll(std::string_view bytes, const std::function<bool()>& stop) {
    if (input_ < 0) return WriteResult::kFailed;
    // A large request goes through in one write when the pipe can hold it.
    size_t wanted = std::min(bytes.size(), kMaxPipeBytes);
    if (wanted > static_cast<size_t>(PIPE_BUF)) ::fcntl(input_, F_SETPIPE_SZ, static_cast<int>(wanted));
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t wrote = ::write(input_, bytes.data() + done, bytes.size() - done);
        if (wrote > 0) {
            done += static_cast<size_t>(wrote);
            continue;
        }
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote < 0 && errno != EAGAIN) return WriteResult::kFailed;
        // Full: wait for room, for the worker's end, or for a reason to stop.
        pollfd fds[2] = {{input_, POLLOUT, 0}, {exitFd_, POLLIN, 0}};
        ::poll(fds, exitFd_ >= 0 ? 2 : 1, kWriteWaitMs);
        if (HasExited()) return WriteResult::kFailed;
        if (stop && stop()) return WriteResult::kStopped;
    }
    return WriteResult::kWritten;
}

unsigned WorkerProcess::Wait(int wakeFd, int timeoutMs) {
    pollfd fds[3];
    nfds_t count = 0;
    int outputSlot = -1, exitSlot = -1, wakeSlot = -1;
    if (output_ >= 0 && !outputEnded_) {
        outputSlot = static_cast<int>(count);
        fds[count++] = {output_, POLLIN, 0};
    }
    if (exitFd_ >= 0 && !exited_) {
        exitSlot = static_cast<int>(count);
        fds[count++] = {exitFd_, POLLIN, 0};
    }
    if (wakeFd >= 0) {
        wakeSlot = static_cast<int>(count);
        fds[count++] = {wakeFd, POLLIN, 0};
    }
    if (exitFd_ < 0 && !exited_ && (timeoutMs < 0 || timeoutMs > kPollWithoutPidfdMs)) timeoutMs = kPollWithoutPidfdMs;
    unsigned events = 0;
    if (count == 0) return exited_ ? kExited : 0u;  // nothing left that could wake us
    if (::poll(fds, count, timeoutMs) > 0) {
        if (outputSlot >= 0 && fds[outputSlot].revents != 0) events |= kOutputReady;
        if (exitSlot >= 0 && fds[exitSlot].revents != 0) {
            exited_ = true;
            events |= kExited;
        }
        if (wakeSlot >= 0 && fds[wakeSlot].revents != 0) {
            uint64_t count64;
            ssize_t ignored = ::read(wakeFd, &count64, sizeof count64);
            (void)ignored;
            events |= kWoken;
        }
    }
    if (exitFd_ < 0 && HasExited()) events |= kExited;
    if (exited_) events |= kExited;
    return events;
}

ptrdiff_t WorkerProcess::ReadOutput(char* buffer, size_t size) {
    if (output_ < 0 || outputEnded_) return 0;
    for (;;) {
        ssize_t got = ::read(output_, buffer, size);
        if (got > 0) return got;
        if (got == 0) {
            outputEnded_ = true;
            return 0;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN) return -1;
        outputEnded_ = true;
        return 0;
    }
}

bool WorkerProcess::HasExited() {
    if (exited_ || reaped_) return true;
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
        exited_ = errno == ECHILD;  // reaped elsewhere (SIGCHLD ignored): gone all the same
        return exited_;
    }
    exited_ = info.si_pid != 0;
    return exited_;
}

void WorkerProcess::Kill() {
    if (!reaped_ && pid_ > 0) ::kill(pid_, SIGKILL);
}

int WorkerProcess::WaitForEnd() {
    if (reaped_) return exitCode_;
    siginfo_t info{};
    int result;
    do {
        result = ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT);
    } while (result != 0 && errno == EINTR);
    if (result != 0) return Reap();
    exited_ = true;
    if (info.si_code == CLD_EXITED) return info.si_status;
    if (info.si_code == CLD_KILLED || info.si_code == CLD_DUMPED) return 128 + info.si_status;
    return 255;
}

int WorkerProcess::Reap() {
    if (reaped_) return exitCode_;
    int status = 0;
    pid_t got;
    do {
        got = ::waitpid(pid_, &status, 0);
    } while (got < 0 && errno == EINTR);
    reaped_ = true;
    exited_ = true;
    if (got != pid_)
        exitCode_ = 255;  // its status is lost; it did not end normally as far as we know
    else if (WIFEXITED(status))
        exitCode_ = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        exitCode_ = 128 + WTERMSIG(status);
    else
        exitCode_ = 255;
    return exitCode_;
}

void WorkerProcess::CloseInput() { CloseFd(input_); }
void WorkerProcess::CloseOutput() { CloseFd(output_); }

int CreateWakeSignal() { return ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }

void SignalWake(int fd) {
    if (fd < 0) return;
    uint64_t one = 1;
    ssize_t ignored = ::write(fd, &one, sizeof one);
    (void)ignored;
}

void CloseWakeSignal(int fd) {
    if (fd >= 0) ::close(fd);
}

bool WriteControlLine(int fd, std::string_view line) {
    if (fd < 0) return false;
    ssize_t wrote;
    do {
        wrote = ::write(fd, line.data(), line.size());
    } while (wrote < 0 && errno == EINTR);
    return wrote == static_cast<ssize_t>(line.size());
}

bool WorkerDataLimitApplies() { return kDataLimit; }

void SetWorkerDataLimit(pid_t pid, int32_t ramMB) {
    if (!kDataLimit) return;
    rlimit current{};
    if (::prlimit(pid, RLIMIT_DATA, nullptr, &current) != 0) return;
    rlim_t bytes = static_cast<rlim_t>(ramMB) * 1048576;
    current.rlim_cur = ramMB >= 1 && (current.rlim_max == RLIM_INFINITY || bytes < current.rlim_max) ? bytes : current.rlim_max;
    ::prlimit(pid, RLIMIT_DATA, &current, nullptr);
}

void IgnoreBrokenPipes() { ::signal(SIGPIPE, SIG_IGN); }
