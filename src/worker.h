// The worker process: converts the inputs of one job and reports over its
// standard output, while a control thread listens for "cancel" and new limits.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>

#include "convert/core/catalog.h"
#include "convert/core/limits.h"

namespace worker {

// 0 after the job ran (whatever its files' outcomes, also when cancelled); 2 when no
// valid request arrived.
int WorkerMain();

// Converts one input and writes its lines; false when the job must stop (cancelled).
bool ConvertOne(size_t index, const std::string& path, const Target& target, std::atomic<bool>& cancel,
                LiveLimits& limits);

void ApplyPriority(bool lowPriority);

// Decides which progress reports reach the host: small or backward steps that come
// quickly are dropped, and so is a repeat of the last value.
class ProgressThrottle {
public:
    // True when `value` reported at `nowMs` should be written.
    bool Accept(double value, uint64_t nowMs);

private:
    double last_ = -2.0;
    uint64_t lastMs_ = 0;
};

// "progress " and the value with four decimals, whatever the locale.
std::string ProgressLine(double value);

}  // namespace worker
