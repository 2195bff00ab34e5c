// What every converter receives besides its input and target: the cancel flag,
// a progress sink and the worker's live limits.
#pragma once

#include <atomic>
#include <functional>

#include "convert/core/errors.h"
#include "convert/core/limits.h"

struct ConvertContext {
    const std::atomic<bool>* cancel = nullptr;
    // A fraction 0..1 of the current file, or negative when not measurable.
    std::function<void(double)> progress;
    LiveLimits* limits = nullptr;

    bool CancelRequested() const { return cancel && cancel->load(std::memory_order_relaxed); }
    void ThrowIfCancelled() const {
        if (CancelRequested()) throw Cancelled();
    }
    void Report(double fraction) const {
        if (progress) progress(fraction);
    }
};
