#include "job_runner.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <set>
#include <system_error>

#include "convert/core/output_file.h"
#include "convert/core/paths.h"
#include "convert/core/process.h"
#include "convert/core/text.h"
#include "job_lines.h"
#include "platform/worker_group.h"
#include "platform/worker_process.h"
#include "platform/worker_sandbox.h"
#include "protocol.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kCancelGrace = std::chrono::milliseconds(5000);  // a worker gets this long to stop on its own
constexpr size_t kReadChunk = 4096;                              // bytes read from a worker at a time
constexpr size_t kDrainLimit = size_t(64) << 20;                 // read after the worker ended; a leftover
                                                                 // writer cannot keep the supervisor busy
constexpr int32_t kMostParallelJobs = 4;                         // supervisor threads at most
constexpr int kPollWithoutWakeMs = 100;                          // how often to look for a cancel without a wake signal

int32_t ParallelLimit(const LimitSettings& limits) { return std::clamp(limits.ParallelJobs, 1, kMostParallelJobs); }

// A line feed or carriage return inside a path would split it into several request
// lines, and a space in the suffix would shift the header's words.
bool FitsTheProtocol(const Job& job) {
    for (const std::string& file : job.files)
        if (file.find_first_of("\n\r") != std::string::npos) return false;
    return job.target.suffix.find_first_of(" \t\n\r") == std::string::npos;
}

void RemoveTemporaries(const Job& job, pid_t worker) {
    std::set<std::string> folders;
    for (const std::string& file : job.files) folders.insert(FolderOf(file));
    for (const std::string& folder : folders) RemoveTemporariesOf(folder, worker);
}

void Finish(Job& job, const char* status, JobState state) {
    job.status = status;
    job.state.store(state);
}

}  // namespace

std::shared_ptr<Job> MakeJob(std::vector<std::string> files, Target target, const std::string& menuLabel) {
    auto job = std::make_shared<Job>();
    job->files = std::move(files);
    job->target = std::move(target);
    job->title = job->files.size() == 1 ? FileNameOf(job->files.front()) : FormatText("%zu files", job->files.size());
    std::string token(FormatName(job->target.format));
    job->subtitle = (job->files.empty() ? std::string() : ToUpper(ExtensionOf(job->files.front()))) + " \u2192 " + token;
    if (!menuLabel.empty() && menuLabel != token) job->subtitle += " " + menuLabel;
    int32_t format = job->target.format;
    job->glyph = format >= kPng && format <= kSvg     ? kGlyphImage
                 : format >= kMp4 && format <= k3gp   ? kGlyphVideo
                 : format >= kMp3 && format <= kAiff  ? kGlyphAudio
                                                      : kGlyphDocument;
    return job;
}

JobRunner::JobRunner(Notify notify, const LimitSettings& limits, std::string workerPath)
    : notify_(std::move(notify)), workerPath_(workerPath.empty() ? ModulePath() : std::move(workerPath)), limits_(limits) {
    IgnoreBrokenPipes();
    // Workers parse untrusted files: one that is taken over must not be able to read or
    // write this process's memory.
    ProtectHostFromWorkers();
    group_ = WorkerGroup::Create(limits);
}

JobRunner::~JobRunner() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        for (const auto& job : queue_) job->cancelRequested.store(true);  // they stay queued
        for (const auto& job : running_) Cancel(*job);
    }
    wake_.notify_all();
    for (std::thread& thread : threads_) thread.join();
    group_.reset();  // ends anything the workers left behind
}

void JobRunner::Enqueue(std::shared_ptr<Job> job) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(job));
        StartThreadsLocked();
    }
    wake_.notify_all();
}

void JobRunner::Cancel(Job& job) {
    job.cancelRequested.store(true);
    std::lock_guard lock(job.mutex);
    WriteControlLine(job.workerInput, "cancel\n");
    SignalWake(job.workerWake);
}

void JobRunner::UpdateLimits(const LimitSettings& limits) {
    {
        std::lock_guard lock(mutex_);
        limits_ = limits;
        if (group_) group_->Apply(limits);
        std::string line = FormatLimitsLine(limits);
        for (const auto& job : running_) {
            std::lock_guard jobLock(job->mutex);
            // The data limit first: a worker may act on the line at once.
            if (job->workerId > 0) SetWorkerDataLimit(job->workerId, limits.RamMB);
            WriteControlLine(job->workerInput, line);
        }
        StartThreadsLocked();
    }
    wake_.notify_all();
}

LimitSettings JobRunner::Limits() const {
    std::lock_guard lock(mutex_);
    return limits_;
}

void JobRunner::StartThreadsLocked() {
    if (stopping_) return;
    size_t want = static_cast<size_t>(ParallelLimit(limits_));
    while (threads_.size() < want && !queue_.empty()) {
        try {
            threads_.emplace_back(&JobRunner::SupervisorLoop, this);
        } catch (const std::system_error&) {
            break;  // the threads there are will run the queue
        }
    }
    if (threads_.empty()) {
        // Nothing would ever run these jobs: a waiting command line must not hang.
        for (const auto& job : queue_) Finish(*job, "Couldn't start the converter", kJobFailed);
        queue_.clear();
    }
}

void JobRunner::SupervisorLoop() {
    for (;;) {
        std::shared_ptr<Job> job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] {
                return stopping_ || (!queue_.empty() && running_.size() < static_cast<size_t>(ParallelLimit(limits_)));
            });
            if (stopping_) return;
            job = queue_.front();
            queue_.pop_front();
            running_.push_back(job);
        }
        RunJob(*job);
        {
            std::lock_guard lock(mutex_);
            running_.erase(std::find(running_.begin(), running_.end(), job));
        }
        wake_.notify_all();
        if (notify_) notify_();
    }
}

void JobRunner::RunJob(Job& job) {
    if (job.cancelRequested.load()) {
        Finish(job, "Cancelled", kJobCancelled);
        return;
    }
    job.state.store(kJobRunning);
    if (notify_) notify_();
    if (job.files.empty()) {
        Finish(job, "Conversion failed", kJobFailed);
        return;
    }
    if (!FitsTheProtocol(job)) {
        Finish(job, "That isn't a normal file path", kJobFailed);
        return;
    }

    int wake = CreateWakeSignal();
    {
        std::lock_guard lock(job.mutex);
        job.workerWake = wake;
    }
    auto forgetWorker = [&] {
        std::lock_guard lock(job.mutex);
        job.workerInput = -1;
        job.workerId = -1;
        job.workerWake = -1;
    };

    // The grace period starts the first time the supervisor sees the cancel request.
    std::optional<Clock::time_point> cancelSeen;
    auto graceLeft = [&]() -> Clock::duration {
        if (!job.cancelRequested.load()) return Clock::duration::max();
        Clock::time_point now = Clock::now();
        if (!cancelSeen) cancelSeen = now;
        return kCancelGrace - (now - *cancelSeen);
    };

    LimitSettings sent = Limits();
    uint64_t oomKillsBefore = group_ ? group_->OomKills() : 0;
    std::unique_ptr<WorkerProcess> worker = WorkerProcess::Start(workerPath_, group_.get(), sent.RamMB);
    WorkerProcess::WriteResult written = WorkerProcess::WriteResult::kFailed;
    if (worker)
        written = worker->WriteAll(FormatRequest(job.target, job.files, sent),
                                   [&] { return graceLeft() < Clock::duration::zero(); });
    if (written != WorkerProcess::WriteResult::kWritten) {
        forgetWorker();
        if (worker) {
            // Without its pipes the worker sees the end of its input, which cancels it; one
            // that does not stop within the grace is killed.
            worker->CloseInput();
            worker->CloseOutput();
            Clock::time_point deadline = Clock::now() + kCancelGrace;
            while (!worker->HasExited() && Clock::now() < deadline) worker->Wait(-1, 100);
            worker.reset();
        }
        CloseWakeSignal(wake);
        if (written == WorkerProcess::WriteResult::kStopped)
            Finish(job, "Cancelled", kJobCancelled);
        else
            Finish(job, "Couldn't start the converter", kJobFailed);
        return;
    }

    {
        std::lock_guard lock(job.mutex);
        job.workerInput = worker->Input();
        job.workerId = worker->Id();
        if (job.cancelRequested.load()) WriteControlLine(job.workerInput, "cancel\n");
    }
    // Limits that changed while the worker started were not sent to it yet.
    {
        std::lock_guard lock(mutex_);
        if (!(limits_ == sent)) {
            std::lock_guard jobLock(job.mutex);
            SetWorkerDataLimit(job.workerId, limits_.RamMB);
            WriteControlLine(job.workerInput, FormatLimitsLine(limits_));
        }
    }

    RunOutcome outcome;
    outcome.total = job.files.size();
    HostLineSplitter splitter;
    auto handleLine = [&](std::string_view line) { ApplyWorkerLine(line, outcome, job); };
    char chunk[kReadChunk];
    bool exited = false;
    bool killed = false;
    size_t drained = 0;
    for (;;) {
        // Checked on every round, so a worker that floods its output cannot dodge the kill.
        Clock::duration left = graceLeft();
        if (!killed && !exited && left < Clock::duration::zero()) {
            worker->Kill();
            killed = true;
            outcome.cancelled = true;
        }
        ptrdiff_t got = worker->ReadOutput(chunk, sizeof chunk);
        if (got > 0) {
            splitter.Feed(std::string_view(chunk, static_cast<size_t>(got)), handleLine);
            if (exited && (drained += static_cast<size_t>(got)) > kDrainLimit) break;
            continue;
        }
        if (exited) break;  // everything the worker wrote has been read
        int timeoutMs = -1;
        if (!killed && left != Clock::duration::max())
            timeoutMs = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(std::max(left, Clock::duration::zero())).count()) + 1;
        // Without a wake signal a cancel is only noticed by looking again from time to time.
        if (wake < 0 && (timeoutMs < 0 || timeoutMs > kPollWithoutWakeMs)) timeoutMs = kPollWithoutWakeMs;
        if (worker->Wait(wake, timeoutMs) & WorkerProcess::kExited) exited = true;
    }

    forgetWorker();
    int exitCode = worker->WaitForEnd();
    // A worker that did not end on its own terms may have died mid-write: what it was
    // writing under a hidden name goes, while its process id still names only it.
    if (exitCode != 0) RemoveTemporaries(job, worker->Id());
    worker->Reap();
    bool memoryKill = exitCode != 0 && group_ && group_->OomKills() > oomKillsBefore;
    FinishJob(job, outcome, exitCode, memoryKill);
    worker.reset();
    CloseWakeSignal(wake);
}
