// The host's queue of conversion jobs. Each job runs in its own worker process;
// all workers of one runner share the user's memory and processor limits.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "convert/core/catalog.h"
#include "convert/core/limits.h"

enum JobState : int32_t { kJobQueued = 0, kJobRunning = 1, kJobSucceeded = 2, kJobFailed = 3, kJobCancelled = 4 };

struct Job {
    std::vector<std::string> files;
    Target target;
    std::string title;
    std::string subtitle;
    char16_t glyph = 0;

    std::atomic<int32_t> state{kJobQueued};
    std::atomic<float> progress{0.0f};  // -1 while running without a measure
    std::atomic<bool> cancelRequested{false};
    // Written by the job's supervisor thread before `state` becomes final; read after.
    std::string status;
    std::vector<std::string> outputs;

    std::mutex mutex;      // guards the three fields below and every write to workerInput
    int workerInput = -1;  // write end of the running worker's standard input
    int workerId = -1;     // the running worker's process id, for limit changes
    int workerWake = -1;   // wakes the job's supervisor when the job is cancelled
};

inline constexpr size_t kMaxJobOutputs = 1000000;  // paths kept per job; a runaway worker can't exhaust the host

// A job for files and a target, with the title, subtitle and glyph the jobs panel shows.
// `menuLabel` is the label of the chosen menu entry (may be empty).
std::shared_ptr<Job> MakeJob(std::vector<std::string> files, Target target, const std::string& menuLabel = {});

class WorkerGroup;  // the shared resource limits of all workers (platform layer)

class JobRunner {
public:
    using Notify = std::function<void()>;  // called when a job starts or ends; may be empty

    // `workerPath` is the executable started with --worker (the program itself by default).
    JobRunner(Notify notify, const LimitSettings& limits, std::string workerPath = {});
    ~JobRunner();  // cancels everything, waits for the supervisor threads, ends leftover workers
    JobRunner(const JobRunner&) = delete;
    JobRunner& operator=(const JobRunner&) = delete;

    void Enqueue(std::shared_ptr<Job> job);
    static void Cancel(Job& job);
    void UpdateLimits(const LimitSettings& limits);
    LimitSettings Limits() const;

private:
    void StartThreadsLocked();
    void SupervisorLoop();
    void RunJob(Job& job);

    Notify notify_;
    std::string workerPath_;
    std::unique_ptr<WorkerGroup> group_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    LimitSettings limits_;
    std::deque<std::shared_ptr<Job>> queue_;
    std::vector<std::shared_ptr<Job>> running_;
    std::vector<std::thread> threads_;
    bool stopping_ = false;
};
