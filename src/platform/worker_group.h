// The shared resource limits of all workers of one job runner: a control group of
// their own (the v1 memory and cpu hierarchies, or cgroup v2 under the host's own group
// where it may hand controllers down) or, on the unified hierarchy of a desktop, a
// transient scope of the user's systemd manager; it caps their memory together and
// their processor share together.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "convert/core/limits.h"

class SystemdScope;

class WorkerGroup {
public:
    // A new, empty group with the limits applied; nothing when no control group can be
    // created here (workers then run without shared limits, which is logged once).
    static std::unique_ptr<WorkerGroup> Create(const LimitSettings& limits);
    // A group kept by the user's systemd manager as a transient scope; it holds a small
    // idle process of ours, so that it lasts while no worker runs. Nothing when no
    // manager answers.
    static std::unique_ptr<WorkerGroup> CreateScope(const LimitSettings& limits);
    ~WorkerGroup();  // kills every process left in the group and removes it
    WorkerGroup(const WorkerGroup&) = delete;
    WorkerGroup& operator=(const WorkerGroup&) = delete;

    // Memory limit for all members together when RamMB >= 1; processor quota of
    // CpuPercent % of the whole machine when CpuPercent < 100.
    void Apply(const LimitSettings& limits);

    // Open descriptors of the groups' process lists. A starting worker writes "0" to each
    // (between fork and exec, where nothing may allocate) to move itself in.
    const std::vector<int>& JoinDescriptors() const { return join_; }
    // Whether a started worker waits before exec until the host has moved it in with Attach
    // (a scope: only its manager can move processes in).
    bool AttachedByHost() const { return scoped_; }
    // Moves a waiting worker in; false when that failed (the worker must not run).
    bool Attach(pid_t pid);

    // Processes in the group now (not the scope's idle process).
    std::vector<pid_t> Members() const;
    // SIGKILL to every member until the group is empty (or a short while has passed).
    void KillAll();
    // How many processes the memory controller has killed in the group so far for going
    // over its limit (0 when it cannot tell).
    uint64_t OomKills() const;

    bool LimitsMemory() const { return scoped_ || !memoryDir_.empty(); }
    bool LimitsProcessor() const { return scoped_ || !cpuDir_.empty(); }
    const std::string& MemoryDir() const { return memoryDir_; }
    const std::string& ProcessorDir() const { return cpuDir_; }

private:
    WorkerGroup() = default;
    std::string ScopeDirectory() const;  // where the scope's control files are; empty when unknown
    bool StartScopeLocked(const LimitSettings& limits);
    void EndScopeLocked();
    void KillScopeMembersLocked();

    std::vector<std::string> dirs_;  // every directory created (one on v2, one per hierarchy on v1)
    std::string memoryDir_;
    std::string cpuDir_;
    std::vector<int> join_;
    bool scoped_ = false;  // a systemd scope (set once, at creation)

    mutable std::mutex scopeMutex_;  // guards the three below
    std::unique_ptr<SystemdScope> scope_;
    pid_t anchor_ = -1;     // the idle process that keeps the scope alive
    LimitSettings limits_;  // the last applied, for a scope started again
};

// ---- pieces of the discovery, exposed for tests ----

struct CgroupMount {
    std::string mountPoint;
    std::string root;  // the part of the hierarchy the mount shows ("/" normally)
    bool v2 = false;
    std::vector<std::string> controllers;  // v1: the controllers mounted there
};

// Control-group mounts listed in a /proc/<pid>/mountinfo text.
std::vector<CgroupMount> ParseCgroupMounts(std::string_view mountinfo);
// The process's group path for a v1 controller ("memory") or, with an empty name, its
// v2 group, from a /proc/<pid>/cgroup text; empty when absent.
std::string CgroupPathFor(std::string_view procCgroup, std::string_view controller);
// The directory of that group under a mount, or empty when the mount does not show it.
std::string CgroupDirectory(const CgroupMount& mount, std::string_view groupPath);

// Where the shared limits can be kept: groups of our own (a v1 memory or cpu hierarchy, or a
// v2 group that hands the controllers down: `unifiedSubtreeControl`), a systemd scope (the
// unified hierarchy has the controllers, `unifiedControllers`, but we may not hand them
// down), or nowhere.
enum class LimitPlace { kNowhere, kOwnGroups, kSystemdScope };
LimitPlace ChooseLimitPlace(const std::vector<CgroupMount>& mounts, std::string_view membership,
                            std::string_view unifiedControllers, std::string_view unifiedSubtreeControl);
// The number after `key` on its line of a control file ("oom_kill 3" in memory.events); 0
// when there is none.
uint64_t ControlCount(std::string_view text, std::string_view key);
