// Finding the control groups of the host and setting the shared limits of its workers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "platform/worker_group.h"
#include "support/test_support.h"

using testing_support::FileExists;
using testing_support::ReadFile;

namespace {

LimitSettings Limits(int32_t ramMB, int32_t cpuPercent) {
    LimitSettings limits;
    limits.RamMB = ramMB;
    limits.CpuPercent = cpuPercent;
    return limits;
}

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

}  // namespace

TEST(WorkerGroup, MountsFromMountinfo) {
    const char* mountinfo =
        "22 1 0:21 / /proc rw,nosuid - proc proc rw\n"
        "30 25 0:26 / /sys/fs/cgroup/memory rw,relatime shared:9 - cgroup cgroup rw,memory\n"
        "31 25 0:27 / /sys/fs/cgroup/cpu,cpuacct rw,relatime shared:10 - cgroup cgroup rw,cpu,cpuacct\n"
        "32 25 0:28 /process_api/ab /sys/fs/cgroup/odd\\040name rw - cgroup cgroup rw,pids\n"
        "33 25 0:29 / /sys/fs/cgroup/unified rw,nosuid master:4 - cgroup2 cgroup2 rw,nsdelegate\n"
        "broken line without the separator\n"
        "34 25 0:30 / /short - cgroup\n";
    std::vector<CgroupMount> mounts = ParseCgroupMounts(mountinfo);
    ASSERT_EQ(mounts.size(), 4u);
    EXPECT_EQ(mounts[0].mountPoint, "/sys/fs/cgroup/memory");
    EXPECT_EQ(mounts[0].controllers, (std::vector<std::string>{"rw", "memory"}));
    EXPECT_FALSE(mounts[0].v2);
    EXPECT_EQ(mounts[1].controllers, (std::vector<std::string>{"rw", "cpu", "cpuacct"}));
    EXPECT_EQ(mounts[2].mountPoint, "/sys/fs/cgroup/odd name");
    EXPECT_EQ(mounts[2].root, "/process_api/ab");
    EXPECT_TRUE(mounts[3].v2);
    EXPECT_EQ(mounts[3].mountPoint, "/sys/fs/cgroup/unified");
}

TEST(WorkerGroup, MembershipFromProcCgroup) {
    const char* membership =
        "9:name=systemd:/\n"
        "4:memory:/process_api/92a6\n"
        "2:cpu,cpuacct:/user/7\n"
        "0::/user.slice/session-2.scope\n";
    EXPECT_EQ(CgroupPathFor(membership, "memory"), "/process_api/92a6");
    EXPECT_EQ(CgroupPathFor(membership, "cpu"), "/user/7");
    EXPECT_EQ(CgroupPathFor(membership, "cpuacct"), "/user/7");
    EXPECT_EQ(CgroupPathFor(membership, ""), "/user.slice/session-2.scope");
    EXPECT_EQ(CgroupPathFor(membership, "pids"), "");
    EXPECT_EQ(CgroupPathFor("4:memory:/a\n", ""), "");  // no v2 line
}

TEST(WorkerGroup, DirectoryUnderAMount) {
    CgroupMount plain{"/sys/fs/cgroup/memory", "/", false, {}};
    EXPECT_EQ(CgroupDirectory(plain, "/process_api/92a6"), "/sys/fs/cgroup/memory/process_api/92a6");
    EXPECT_EQ(CgroupDirectory(plain, "/"), "/sys/fs/cgroup/memory");
    // A mount that shows only part of the hierarchy (as in a container).
    CgroupMount inner{"/sys/fs/cgroup", "/process_api/92a6", true, {}};
    EXPECT_EQ(CgroupDirectory(inner, "/process_api/92a6"), "/sys/fs/cgroup");
    EXPECT_EQ(CgroupDirectory(inner, "/process_api/92a6/sub"), "/sys/fs/cgroup/sub");
    EXPECT_EQ(CgroupDirectory(inner, "/process_api/92a"), "");
    EXPECT_EQ(CgroupDirectory(inner, "/process_api/92a6x"), "");
    EXPECT_EQ(CgroupDirectory(inner, ""), "");
}

TEST(WorkerGroup, LimitsAreWrittenAndRemoved) {
    std::unique_ptr<WorkerGroup> group = WorkerGroup::Create(Limits(64, 25));
    if (!group) GTEST_SKIP() << "no writable control group here";
    long processors = ::sysconf(_SC_NPROCESSORS_ONLN);
    std::string memory = group->MemoryDir();
    std::string cpu = group->ProcessorDir();
    if (group->LimitsMemory()) {
        if (FileExists(memory + "/memory.max")) {
            EXPECT_EQ(Trimmed(ReadFile(memory + "/memory.max")), "67108864");
        } else {
            EXPECT_EQ(Trimmed(ReadFile(memory + "/memory.limit_in_bytes")), "67108864");
        }
    }
    std::string quota = std::to_string(100000 * processors * 25 / 100);
    if (group->LimitsProcessor()) {
        if (FileExists(cpu + "/cpu.max")) {
            EXPECT_EQ(Trimmed(ReadFile(cpu + "/cpu.max")), quota + " 100000");
        } else {
            EXPECT_EQ(Trimmed(ReadFile(cpu + "/cpu.cfs_quota_us")), quota);
            EXPECT_EQ(Trimmed(ReadFile(cpu + "/cpu.cfs_period_us")), "100000");
        }
    }

    group->Apply(Limits(0, 100));
    if (group->LimitsMemory()) {
        if (FileExists(memory + "/memory.max")) {
            EXPECT_EQ(Trimmed(ReadFile(memory + "/memory.max")), "max");
        } else {
            // The kernel shows "no limit" as the largest page-aligned number.
            EXPECT_GT(std::stoull(ReadFile(memory + "/memory.limit_in_bytes")), 1ull << 62);
        }
    }
    if (group->LimitsProcessor()) {
        if (FileExists(cpu + "/cpu.max")) {
            EXPECT_EQ(Trimmed(ReadFile(cpu + "/cpu.max")), "max 100000");
        } else {
            EXPECT_EQ(Trimmed(ReadFile(cpu + "/cpu.cfs_quota_us")), "-1");
        }
    }

    // 1 % of the machine is raised to nothing less than a valid quota.
    group->Apply(Limits(1, 1));
    if (group->LimitsProcessor() && !FileExists(cpu + "/cpu.max")) {
        EXPECT_EQ(Trimmed(ReadFile(cpu + "/cpu.cfs_quota_us")), std::to_string(1000 * processors));
    }

    EXPECT_TRUE(group->Members().empty());
    group.reset();
    EXPECT_FALSE(!memory.empty() && FileExists(memory));
    EXPECT_FALSE(!cpu.empty() && FileExists(cpu));
}

TEST(WorkerGroup, EachRunnerHasItsOwnGroup) {
    std::unique_ptr<WorkerGroup> first = WorkerGroup::Create(Limits(0, 100));
    std::unique_ptr<WorkerGroup> second = WorkerGroup::Create(Limits(0, 100));
    if (!first || !second) GTEST_SKIP() << "no writable control group here";
    EXPECT_NE(first->MemoryDir() + first->ProcessorDir(), second->MemoryDir() + second->ProcessorDir());
    EXPECT_EQ(first->JoinDescriptors().size(), second->JoinDescriptors().size());
}
