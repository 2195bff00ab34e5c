// The user's performance settings, as the settings store reads them and as the
// worker protocol carries them.
#pragma once

#include <cstdint>
#include <mutex>

struct LimitSettings {
    int32_t CpuPercent = 60;
    int32_t GpuPercent = 70;
    int32_t VramMB = 1536;
    int32_t RamMB = 4096;
    int32_t ParallelJobs = 2;
    bool GpuAcceleration = true;
    bool LowPriority = true;

    friend bool operator==(const LimitSettings&, const LimitSettings&) = default;
};

// The worker's live copy of the settings; the control thread replaces it whole
// while converters read it.
class LiveLimits {
public:
    LimitSettings Get() const {
        std::lock_guard lock(mutex_);
        return settings_;
    }
    void Set(const LimitSettings& settings) {
        std::lock_guard lock(mutex_);
        settings_ = settings;
    }

private:
    mutable std::mutex mutex_;
    LimitSettings settings_;
};
