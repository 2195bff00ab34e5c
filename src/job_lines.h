// How a worker's report lines become a job's progress, outputs and final status text.
// Kept apart from the process handling so that every rule can be checked on its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "job_runner.h"

// What the supervisor has learned about one run of a worker.
struct RunOutcome {
    size_t total = 0;      // files in the job
    size_t index = 0;      // the file the worker is on
    size_t succeeded = 0;
    size_t finished = 0;   // succeeded plus failed files
    bool cancelled = false;  // the worker said so, or it had to be killed
    std::string lastError;
};

// Applies one worker line (without its line feed) to the outcome and to the job's
// progress and outputs. Lines that mean nothing are ignored.
void ApplyWorkerLine(std::string_view line, RunOutcome& outcome, Job& job);

// Writes the job's status text and then its final state. `exitCode` is the worker's
// (non-zero after a signal); `memoryKill` says that the memory controller killed a
// process of the workers' group for going over the RAM limit while the worker ran.
void FinishJob(Job& job, RunOutcome& outcome, int exitCode, bool memoryKill);
