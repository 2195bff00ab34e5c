// Finding the control groups of the host and setting the shared limits of its workers.
#include <gtest/gtest.h>

#include "platform/worker_group.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

LimitSettings Limits(int32_t ramMB, int32_t cpuPercent) {
    LimitSettings limits;
    limits.RamMB = ramMB;
    limits.CpuPercent = cpuPercent;
    return limits;
}

// The first line of the cgroup v2 file, or of the v1 file where there is no v2 one; "-"
// for a controller the group does not have.
std::string Value(const std::string& dir, const std::string& v2, const std::string& v1) {
    if (dir.empty()) return "-";
    std::string text = ReadFile(dir + "/" + (FileExists(dir + "/" + v2) ? v2 : v1));
    return text.substr(0, text.find('\n'));
}

}  // namespace

TEST(WorkerGroup, DiscoveryFromProcFiles) {
    std::vector<CgroupMount> mounts = ParseCgroupMounts(
        "22 1 0:21 / /proc rw,nosuid - proc proc rw\n"
        "31 25 0:27 / /sys/fs/cgroup/cpu,cpuacct rw,relatime shared:10 - cgroup cgroup rw,cpu,cpuacct\n"
        "32 25 0:28 /p/ab /sys/fs/cgroup/odd\\040name rw - cgroup cgroup rw,pids\n"
        "33 25 0:29 / /sys/fs/cgroup/unified rw,nosuid master:4 - cgroup2 cgroup2 rw,nsdelegate\n"
        "broken line without the separator\n34 25 0:30 / /short - cgroup\n");
    ASSERT_EQ(mounts.size(), 3u);
    EXPECT_EQ(mounts[0].controllers, (std::vector<std::string>{"rw", "cpu", "cpuacct"}));
    EXPECT_EQ(mounts[1].mountPoint + " " + mounts[1].root, "/sys/fs/cgroup/odd name /p/ab");
    EXPECT_TRUE(mounts[2].v2 && !mounts[0].v2);

    const char* membership = "9:name=systemd:/\n4:memory:/p/92a6\n2:cpu,cpuacct:/user/7\n0::/user.slice/s.scope\n";
    EXPECT_EQ(CgroupPathFor(membership, "memory"), "/p/92a6");
    EXPECT_EQ(CgroupPathFor(membership, "cpuacct"), "/user/7");
    EXPECT_EQ(CgroupPathFor(membership, ""), "/user.slice/s.scope");
    EXPECT_EQ(CgroupPathFor(membership, "pids"), "");
    EXPECT_EQ(CgroupPathFor("4:memory:/a\n", ""), "");  // no v2 line

    EXPECT_EQ(CgroupDirectory(CgroupMount{"/sys/fs/cgroup/memory", "/", false, {}}, "/"), "/sys/fs/cgroup/memory");
    // A mount that shows only part of the hierarchy (as in a container).
    CgroupMount inner{"/sys/fs/cgroup", "/p/92a6", true, {}};
    EXPECT_EQ(CgroupDirectory(inner, "/p/92a6"), "/sys/fs/cgroup");
    EXPECT_EQ(CgroupDirectory(inner, "/p/92a6/sub"), "/sys/fs/cgroup/sub");
    EXPECT_EQ(CgroupDirectory(inner, "/p/92a6x"), "");
}

TEST(WorkerGroup, LimitsAreWrittenAndTheGroupRemoved) {
    std::unique_ptr<WorkerGroup> group = WorkerGroup::Create(Limits(64, 25));
    if (!group) GTEST_SKIP() << "no writable control group here";
    std::string memory = group->MemoryDir(), cpu = group->ProcessorDir();
    auto ram = [&] { return Value(memory, "memory.max", "memory.limit_in_bytes"); };
    auto quota = [&] { return Value(cpu, "cpu.max", "cpu.cfs_quota_us"); };
    std::string share = std::to_string(100000 * ::sysconf(_SC_NPROCESSORS_ONLN) * 25 / 100);
    EXPECT_TRUE(ram() == "-" || ram() == "67108864") << ram();
    EXPECT_TRUE(quota() == "-" || quota() == share + " 100000" || quota() == share) << quota();
    group->Apply(Limits(0, 100));
    // No limits; v1 shows no memory limit as the largest page-aligned number.
    EXPECT_TRUE(ram() == "-" || ram() == "max" || std::stoull(ram()) > 1ull << 62) << ram();
    EXPECT_TRUE(quota() == "-" || quota() == "max 100000" || quota() == "-1") << quota();
    EXPECT_TRUE(group->Members().empty());
    group.reset();
    EXPECT_FALSE(!memory.empty() && FileExists(memory));
    EXPECT_FALSE(!cpu.empty() && FileExists(cpu));
}
