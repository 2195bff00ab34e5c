// A worker process as its host sees it: started with its standard input and output
// on pipes, inside the runner's control group and under its own resource limits, and
// waited on without spending processor time.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

class WorkerGroup;

class WorkerProcess {
public:
    // Starts `path --worker` with standard input from one pipe and standard output and
    // error into another, every other descriptor closed, in `group` (may be null), with
    // RLIMIT_DATA = ramMB MiB when ramMB >= 1, no core files, nice 10, no new privileges,
    // killed when the starting thread ends, "/" as its working folder, and only the few
    // environment variables a conversion reads. Nothing when the pipes or the process cannot
    // be made, or the child could not join the group or run.
    static std::unique_ptr<WorkerProcess> Start(const std::string& path, WorkerGroup* group, int32_t ramMB);
    ~WorkerProcess();  // closes the pipes; a worker that still runs is killed and reaped
    WorkerProcess(const WorkerProcess&) = delete;
    WorkerProcess& operator=(const WorkerProcess&) = delete;

    pid_t Id() const { return pid_; }
    int Input() const { return input_; }  // non-blocking write end of the worker's input

    enum class WriteResult { kWritten, kFailed, kStopped };
    // Writes every byte to the worker's input, waiting while the pipe is full. Fails when
    // the worker ends or the write fails; stops when `stop` (asked while waiting) says so.
    WriteResult WriteAll(std::string_view bytes, const std::function<bool()>& stop);

    // What Wait saw; several may come together.
    enum Event : unsigned { kOutputReady = 1, kExited = 2, kWoken = 4 };
    // Sleeps until output is waiting, the worker has ended, `wakeFd` was signalled (its
    // count is cleared) or `timeoutMs` passed (-1: no limit). Returns the events.
    unsigned Wait(int wakeFd, int timeoutMs);
    // Reads up to `size` waiting bytes: the count, 0 at the end of the output, -1 when
    // nothing is waiting now.
    ptrdiff_t ReadOutput(char* buffer, size_t size);
    bool HasExited();  // the worker has ended (it is not reaped, so its id stays valid)
    void Kill();       // SIGKILL, unless it was reaped already
    // Waits for the end and returns the exit code; 128 + the signal number after a signal.
    int Reap();
    // The same code, but the ended worker stays unreaped, so that its process id cannot be
    // given to another process yet (what it left behind is still known to be its own).
    int WaitForEnd();
    void CloseInput();
    void CloseOutput();

private:
    WorkerProcess() = default;

    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    int exitFd_ = -1;  // pidfd: readable once the process has ended
    bool outputEnded_ = false;
    bool exited_ = false;
    bool reaped_ = false;
    int exitCode_ = -1;
};

// An event counter the supervisor sleeps on, so that a cancel wakes it at once.
int CreateWakeSignal();  // -1 on failure
void SignalWake(int fd);
void CloseWakeSignal(int fd);

// Writes one short line to a worker's input without blocking; false when it did not fit
// whole (pipe full or closed).
bool WriteControlLine(int fd, std::string_view line);
// Sets a running worker's RLIMIT_DATA to ramMB MiB (ramMB >= 1) or back to its ceiling.
void SetWorkerDataLimit(pid_t pid, int32_t ramMB);
// Whether workers get a data limit of their own. Not in sanitizer builds: the sanitizer's
// shadow memory counts as data and would stop every worker before it starts; there the
// control group alone limits memory.
bool WorkerDataLimitApplies();
// A write to a pipe whose reader has gone fails with EPIPE instead of ending the process.
void IgnoreBrokenPipes();
