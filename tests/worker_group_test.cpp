// Finding the control groups of the host and setting the shared limits of its workers.
#include <gtest/gtest.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <regex>
#include <thread>

#include "platform/systemd_scope.h"
#include "platform/worker_group.h"
#include "platform/worker_process.h"
#include "support/desktop_services.h"
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

// A stand-in for the user's systemd manager on a private session bus: it answers the four
// calls the scope makes and records each as a line: the method, its plain arguments and
// its properties as Name=value.
class FakeManager {
public:
    FakeManager() {
        if (bus_daemon_.Started() && sd_bus_open_user(&bus_) >= 0 &&
            sd_bus_add_object_vtable(bus_, nullptr, "/org/freedesktop/systemd1", "org.freedesktop.systemd1.Manager",
                                     kVtable, this) >= 0 &&
            sd_bus_request_name(bus_, "org.freedesktop.systemd1", 0) >= 0)
            thread_ = std::thread([this] { Serve(); });
    }
    ~FakeManager() { Stop(); }
    bool Running() const { return thread_.joinable(); }
    void Stop() {  // the manager leaves the bus; the bus stays
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        bus_ = sd_bus_flush_close_unref(bus_);
    }
    void RefuseAttach() { refuseAttach_ = true; }
    std::vector<std::string> Calls() {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        calls_.clear();
    }

private:
    void Serve() {
        while (!stop_)
            if (sd_bus_process(bus_, nullptr) <= 0) sd_bus_wait(bus_, 50000);
    }
    void Record(std::string call) {
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(call));
    }
    // " Name=value" for each property of an a(sv): strings, 64-bit numbers and lists of pids.
    static std::string Properties(sd_bus_message* m) {
        std::string out;
        sd_bus_message_enter_container(m, 'a', "(sv)");
        while (sd_bus_message_enter_container(m, 'r', "sv") > 0) {
            const char* name = nullptr;
            const char* contents = nullptr;
            char type = 0;
            sd_bus_message_read(m, "s", &name);
            sd_bus_message_peek_type(m, &type, &contents);
            sd_bus_message_enter_container(m, 'v', contents);
            out += std::string(" ") + name + "=";
            if (std::string(contents) == "s") {
                const char* text = nullptr;
                sd_bus_message_read(m, "s", &text);
                out += text;
            } else if (std::string(contents) == "t") {
                uint64_t number = 0;
                sd_bus_message_read(m, "t", &number);
                out += std::to_string(number);
            } else if (std::string(contents) == "au") {
                sd_bus_message_enter_container(m, 'a', "u");
                for (uint32_t pid; sd_bus_message_read(m, "u", &pid) > 0;) out += std::to_string(pid);
                sd_bus_message_exit_container(m);
            } else {
                out += std::string("?") + contents;
                sd_bus_message_skip(m, contents);
            }
            sd_bus_message_exit_container(m);
            sd_bus_message_exit_container(m);
        }
        sd_bus_message_exit_container(m);
        return out;
    }
    static int OnStart(sd_bus_message* m, void* self, sd_bus_error*) {
        const char* name = nullptr;
        const char* mode = nullptr;
        sd_bus_message_read(m, "ss", &name, &mode);
        static_cast<FakeManager*>(self)->Record(std::string("StartTransientUnit ") + name + " " + mode + Properties(m));
        return sd_bus_reply_method_return(m, "o", "/org/freedesktop/systemd1/job/1");
    }
    static int OnAttach(sd_bus_message* m, void* self, sd_bus_error* error) {
        const char* name = nullptr;
        const char* subgroup = nullptr;
        sd_bus_message_read(m, "ss", &name, &subgroup);
        std::string call = std::string("AttachProcessesToUnit ") + name + " " + subgroup;
        sd_bus_message_enter_container(m, 'a', "u");
        for (uint32_t pid; sd_bus_message_read(m, "u", &pid) > 0;) call += " " + std::to_string(pid);
        auto* manager = static_cast<FakeManager*>(self);
        manager->Record(call);
        if (manager->refuseAttach_) return sd_bus_error_set_const(error, "org.freedesktop.systemd1.UnitInactive", "no");
        return sd_bus_reply_method_return(m, "");
    }
    static int OnSet(sd_bus_message* m, void* self, sd_bus_error*) {
        const char* name = nullptr;
        int runtime = 0;
        sd_bus_message_read(m, "sb", &name, &runtime);
        static_cast<FakeManager*>(self)->Record(std::string("SetUnitProperties ") + name +
                                                (runtime ? " runtime" : " persistent") + Properties(m));
        return sd_bus_reply_method_return(m, "");
    }
    static int OnKill(sd_bus_message* m, void* self, sd_bus_error*) {
        const char* name = nullptr;
        const char* who = nullptr;
        int32_t signal = 0;
        sd_bus_message_read(m, "ssi", &name, &who, &signal);
        static_cast<FakeManager*>(self)->Record(std::string("KillUnit ") + name + " " + who + " " + std::to_string(signal));
        return sd_bus_reply_method_return(m, "");
    }
    static constexpr sd_bus_vtable kVtable[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_METHOD("StartTransientUnit", "ssa(sv)a(sa(sv))", "o", OnStart, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("AttachProcessesToUnit", "ssau", "", OnAttach, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("SetUnitProperties", "sba(sv)", "", OnSet, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("KillUnit", "ssi", "", OnKill, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_VTABLE_END};

    PrivateBus bus_daemon_;
    sd_bus* bus_ = nullptr;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> refuseAttach_{false};
    std::mutex mutex_;
    std::vector<std::string> calls_;
};

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

TEST(WorkerGroup, WhereTheSharedLimitsCanLive) {
    const char* v1 = "32 31 0:29 / /sys/fs/cgroup/cpu rw - cgroup cgroup rw,cpu\n"
                     "35 31 0:32 / /sys/fs/cgroup/memory rw - cgroup cgroup rw,memory\n";
    const char* unified = "30 23 0:27 / /sys/fs/cgroup rw,nsdelegate - cgroup2 cgroup2 rw\n";
    const char* hybrid = "33 25 0:29 / /sys/fs/cgroup/unified rw - cgroup2 cgroup2 rw\n"
                         "35 31 0:32 / /sys/fs/cgroup/memory rw - cgroup cgroup rw,memory\n";
    const char* desktop = "0::/user.slice/user-1000.slice/user@1000.service/app.slice/app-term.scope\n";
    struct Case {
        const char* mounts;
        const char* membership;
        const char* controllers;  // of the unified group
        const char* handedDown;   // its subtree control, after asking for memory and cpu
        LimitPlace place;
    };
    const Case cases[] = {
        {v1, "4:memory:/user/7\n1:cpu:/user/7\n", "", "", LimitPlace::kOwnGroups},
        {unified, desktop, "cpuset cpu io memory pids\n", "", LimitPlace::kSystemdScope},  // a desktop leaf
        {unified, "0::/\n", "cpuset cpu io memory pids\n", "cpu memory\n", LimitPlace::kOwnGroups},  // a container's root
        {unified, desktop, "pids\n", "", LimitPlace::kNowhere},
        {hybrid, "4:memory:/a\n0::/session.scope\n", "", "", LimitPlace::kOwnGroups},  // controllers on v1
        {hybrid, "0::/session.scope\n", "", "", LimitPlace::kNowhere},
        {"", desktop, "cpu memory\n", "", LimitPlace::kNowhere},  // no control groups mounted
        {unified, "4:memory:/a\n", "cpu memory\n", "", LimitPlace::kNowhere},  // the mount does not show our group
    };
    for (const Case& c : cases)
        EXPECT_EQ(ChooseLimitPlace(ParseCgroupMounts(c.mounts), c.membership, c.controllers, c.handedDown), c.place)
            << c.mounts << c.membership;

    const char* events = "low 0\nhigh 0\nmax 12\noom 3\noom_kill 2\noom_group_kill 0\n";
    EXPECT_EQ(ControlCount(events, "oom_kill"), 2u);
    EXPECT_EQ(ControlCount(events, "oom"), 3u);
    EXPECT_EQ(ControlCount("oom_kill_disable 0\nunder_oom 0\noom_kill 7\n", "oom_kill"), 7u);  // v1 oom_control
    EXPECT_EQ(ControlCount("oom_kill x\noom_kill 1 2\n", "oom_kill"), 0u);
    EXPECT_EQ(ControlCount("", "oom_kill"), 0u);

    ScopeLimits capped = ScopeLimitsFor(Limits(64, 25), 8), open = ScopeLimitsFor(Limits(0, 100), 8);
    EXPECT_EQ(capped.memoryMax, 64u << 20);
    EXPECT_EQ(capped.memorySwapMax, 0u);
    EXPECT_EQ(capped.cpuQuotaPerSecUSec, 2000000u);  // 25 % of eight processors: two of them
    EXPECT_EQ(open.memoryMax & open.memorySwapMax & open.cpuQuotaPerSecUSec, UINT64_MAX);
}

TEST(WorkerGroup, ScopeOfTheUserManagerOverDBus) {
    if (!ToolAvailable("dbus-daemon")) {
        if (MissingToolsAllowed()) GTEST_SKIP() << "dbus-daemon is not installed";
        FAIL() << "dbus-daemon is not installed (scripts/install-deps installs it)";
    }
    FakeManager manager;
    ASSERT_TRUE(manager.Running());
    std::string processors = std::to_string(::sysconf(_SC_NPROCESSORS_ONLN) * 250000);
    std::string none = std::to_string(UINT64_MAX);
    pid_t anchor = -1;
    {
        std::unique_ptr<WorkerGroup> group = WorkerGroup::CreateScope(Limits(64, 25));
        ASSERT_TRUE(group);
        EXPECT_TRUE(group->AttachedByHost() && group->LimitsMemory() && group->LimitsProcessor());
        auto worker = WorkerProcess::Start(QUILL_TOOL_fake_worker, group.get(), 0);
        ASSERT_TRUE(worker);
        worker->WriteAll("PNG 0 -\ndone 0\n\n", {});
        worker->CloseInput();
        EXPECT_EQ(worker->Reap(), 0);
        group->Apply(Limits(0, 100));
        std::vector<std::string> calls = manager.Calls();
        ASSERT_EQ(calls.size(), 3u);
        std::smatch start;
        ASSERT_TRUE(std::regex_match(calls[0], start, std::regex("StartTransientUnit (quillaven-workers-[0-9]+-[0-9]+\\.scope) fail "
                                                                 "Description=Quillaven conversions PIDs=([0-9]+) (.*)")))
            << calls[0];
        std::string unit = start[1];
        anchor = std::stoi(start[2]);
        EXPECT_EQ(start[3], "MemoryMax=67108864 MemorySwapMax=0 CPUQuotaPerSecUSec=" + processors +
                                " OOMPolicy=continue CollectMode=inactive-or-failed");
        // The idle member is a child of ours that holds none of our descriptors.
        EXPECT_NE(ReadFile("/proc/" + std::to_string(anchor) + "/stat").find(" " + std::to_string(::getpid()) + " "),
                  std::string::npos);
        EXPECT_EQ(ListFolder("/proc/" + std::to_string(anchor) + "/fd"), "0|1|2");
        EXPECT_EQ(calls[1], "AttachProcessesToUnit " + unit + "  " + std::to_string(worker->Id()));
        EXPECT_EQ(calls[2], "SetUnitProperties " + unit + " runtime MemoryMax=" + none + " MemorySwapMax=" + none +
                                " CPUQuotaPerSecUSec=" + none);
        manager.Clear();
        // A manager that will not take the worker: it never runs, after one fresh scope was tried.
        manager.RefuseAttach();
        EXPECT_FALSE(WorkerProcess::Start(QUILL_TOOL_fake_worker, group.get(), 0));
        calls = manager.Calls();
        ASSERT_EQ(calls.size(), 4u);
        EXPECT_EQ(calls[0].substr(0, 22 + unit.size()), "AttachProcessesToUnit " + unit);
        EXPECT_EQ(calls[1], "KillUnit " + unit + " all 9");
        EXPECT_EQ(calls[2].substr(0, 19), "StartTransientUnit ");
        EXPECT_NE(calls[2].substr(19, unit.size()), unit);
        EXPECT_EQ(calls[3].substr(0, 22), "AttachProcessesToUnit ");
        manager.Clear();
    }
    std::vector<std::string> calls = manager.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].substr(0, 9), "KillUnit ");
    EXPECT_EQ(ReadFile("/proc/" + std::to_string(anchor) + "/stat"), "");  // ended and reaped

    // Nobody answers for the manager: no scope (and no idle process left behind).
    manager.Stop();
    EXPECT_FALSE(WorkerGroup::CreateScope(Limits(64, 25)));
}
