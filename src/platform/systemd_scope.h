// The workers' shared limits on the unified control-group hierarchy, where a process may
// not make child groups of its own leaf: a transient scope that the user's systemd manager
// creates on request over D-Bus (StartTransientUnit with MemoryMax, MemorySwapMax and
// CPUQuotaPerSecUSec), to which each worker is added (AttachProcessesToUnit) and whose
// limits change live (SetUnitProperties). Calls wait at most a few seconds for an answer.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "convert/core/limits.h"

struct sd_bus;

class SystemdScope {
public:
    // Asks the user's manager (on the session bus) for a new scope holding `firstMember`,
    // with `limits`. Nothing when no manager answers or it refuses.
    static std::unique_ptr<SystemdScope> Start(pid_t firstMember, const LimitSettings& limits);
    ~SystemdScope();  // closes the connection; the scope ends by itself once it is empty
    SystemdScope(const SystemdScope&) = delete;
    SystemdScope& operator=(const SystemdScope&) = delete;

    // Moves a process into the scope; false when the manager refused.
    bool Attach(pid_t pid);
    // Changes the scope's limits while it runs.
    bool Apply(const LimitSettings& limits);
    // SIGKILL to everything in the scope.
    void KillAll();

    const std::string& UnitName() const { return name_; }

private:
    SystemdScope() = default;

    std::mutex mutex_;  // one call on the connection at a time; any thread may call
    sd_bus* bus_ = nullptr;
    std::string name_;
};

// The scope's values for `limits`: the memory limit in bytes, the swap limit, and the
// processor quota in microseconds per second for all processors together (UINT64_MAX:
// none).
struct ScopeLimits {
    uint64_t memoryMax;
    uint64_t memorySwapMax;
    uint64_t cpuQuotaPerSecUSec;
};
ScopeLimits ScopeLimitsFor(const LimitSettings& limits, long processors);
