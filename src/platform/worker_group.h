// The shared resource limits of all workers of one job runner: a control group of
// their own (cgroup v2 under the host's own group, or the v1 memory and cpu
// hierarchies) that caps their memory together and their processor share together.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "convert/core/limits.h"

class WorkerGroup {
public:
    // A new, empty group with the limits applied; nothing when no control group can be
    // created here (workers then run without shared limits).
    static std::unique_ptr<WorkerGroup> Create(const LimitSettings& limits);
    ~WorkerGroup();  // kills every process left in the group and removes it
    WorkerGroup(const WorkerGroup&) = delete;
    WorkerGroup& operator=(const WorkerGroup&) = delete;

    // Memory limit for all members together when RamMB >= 1; processor quota of
    // CpuPercent % of the whole machine when CpuPercent < 100.
    void Apply(const LimitSettings& limits);

    // Open descriptors of the groups' process lists. A starting worker writes "0" to each
    // (between fork and exec, where nothing may allocate) to move itself in.
    const std::vector<int>& JoinDescriptors() const { return join_; }

    // Processes in the group now.
    std::vector<pid_t> Members() const;
    // SIGKILL to every member until the group is empty (or a short while has passed).
    void KillAll();

    bool LimitsMemory() const { return !memoryDir_.empty(); }
    bool LimitsProcessor() const { return !cpuDir_.empty(); }
    const std::string& MemoryDir() const { return memoryDir_; }
    const std::string& ProcessorDir() const { return cpuDir_; }

private:
    WorkerGroup() = default;

    std::vector<std::string> dirs_;  // every directory created (one on v2, one per hierarchy on v1)
    std::string memoryDir_;
    std::string cpuDir_;
    std::vector<int> join_;
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
