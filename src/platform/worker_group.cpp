#include "platform/worker_group.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <set>
#include <thread>

#include "convert/core/text.h"
#include "platform/file_io.h"
#include "platform/log.h"
#include "platform/systemd_scope.h"

namespace {

constexpr int64_t kCpuPeriodMicroseconds = 100000;  // the kernel's default scheduling period
constexpr int kKillRounds = 100;                      // rounds of SIGKILL while members remain
constexpr auto kKillPause = std::chrono::milliseconds(10);  // lets killed members finish dying
constexpr int kRemoveTries = 100;                     // rmdir waits for dying members this often
constexpr size_t kMaxControlFileBytes = 1 << 20;      // process lists and mount tables stay far below

std::string ReadControlFile(const std::string& path) { return ReadSmallFile(path, kMaxControlFileBytes).value_or(""); }

bool WriteControlFile(const std::string& path, std::string_view value) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    ssize_t wrote;
    do {
        wrote = ::write(fd, value.data(), value.size());
    } while (wrote < 0 && errno == EINTR);
    ::close(fd);
    return wrote == static_cast<ssize_t>(value.size());
}

std::string Number(int64_t value) {
    char digits[24];
    auto result = std::to_chars(digits, digits + sizeof digits, value);
    return std::string(digits, result.ptr);
}

std::vector<std::string> Words(std::string_view text, char separator) {
    std::vector<std::string> words;
    for (const std::string& word : Split(text, separator))
        if (!word.empty()) words.push_back(word);
    return words;
}

// Words separated by any white space.
std::vector<std::string> WordsOf(std::string_view text) {
    std::vector<std::string> words;
    std::string word;
    for (char c : text) {
        if (c == ' ' || c == '\n' || c == '\t') {
            if (!word.empty()) words.push_back(std::move(word));
            word.clear();
        } else {
            word.push_back(c);
        }
    }
    if (!word.empty()) words.push_back(std::move(word));
    return words;
}

bool Contains(const std::vector<std::string>& words, std::string_view word) {
    for (const std::string& candidate : words)
        if (candidate == word) return true;
    return false;
}

// mountinfo escapes space, tab, newline and backslash as three octal digits.
std::string UnescapeMountField(std::string_view field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' && field[i + 1] <= '3' &&
            field[i + 2] >= '0' && field[i + 2] <= '7' && field[i + 3] >= '0' && field[i + 3] <= '7') {
            out.push_back(static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0')));
            i += 3;
        } else {
            out.push_back(field[i]);
        }
    }
    return out;
}

std::vector<pid_t> ReadMembers(const std::string& dir) {
    std::vector<pid_t> members;
    for (const std::string& line : Words(ReadControlFile(dir + "/cgroup.procs"), '\n')) {
        pid_t pid = 0;
        auto result = std::from_chars(line.data(), line.data() + line.size(), pid);
        if (result.ec == std::errc() && pid > 0) members.push_back(pid);
    }
    return members;
}

void KillMembers(const std::string& dir) {
    WriteControlFile(dir + "/cgroup.kill", "1");  // v2 kills the whole group at once where the kernel offers it
    for (int round = 0; round < kKillRounds; ++round) {
        std::vector<pid_t> members = ReadMembers(dir);
        if (members.empty()) return;
        for (pid_t pid : members) ::kill(pid, SIGKILL);
        std::this_thread::sleep_for(kKillPause);
    }
}

void RemoveGroup(const std::string& dir) {
    for (int attempt = 0; attempt < kRemoveTries; ++attempt) {
        if (::rmdir(dir.c_str()) == 0 || errno == ENOENT) return;
        if (errno != EBUSY) return;
        std::this_thread::sleep_for(kKillPause);  // killed members are still on their way out
    }
}

// Groups are named after the process (and its pid namespace, as hosts in other namespaces
// may share a hierarchy), so that a host that was killed leaves groups a later one removes.
std::string NamespaceTag() {
    struct stat info {};
    if (::stat("/proc/self/ns/pid", &info) != 0) return "0";
    return Number(static_cast<int64_t>(info.st_ino));
}

void RemoveAbandonedGroups(const std::string& parent, const std::string& prefix) {
    DIR* dir = ::opendir(parent.c_str());
    if (!dir) return;
    std::vector<std::string> abandoned;
    while (dirent* entry = ::readdir(dir)) {
        std::string_view name(entry->d_name);
        if (name.substr(0, prefix.size()) != prefix) continue;
        std::string_view rest = name.substr(prefix.size());
        pid_t owner = 0;
        auto result = std::from_chars(rest.data(), rest.data() + rest.size(), owner);
        if (result.ec != std::errc() || *result.ptr != '-' || owner <= 0 || owner == ::getpid()) continue;
        if (::kill(owner, 0) == 0 || errno != ESRCH) continue;  // its host still runs
        abandoned.emplace_back(name);
    }
    ::closedir(dir);
    for (const std::string& name : abandoned) {
        std::string path = parent + "/" + name;
        KillMembers(path);
        ::rmdir(path.c_str());
    }
}

std::atomic<unsigned> groupCounter{0};

// Said once per process: a host runs many jobs, and the reason does not change.
void LogOnce(std::string_view text) {
    static std::atomic<bool> said{false};
    if (!said.exchange(true)) LogWarning(text);
}

// A child that only waits, so that a scope has a member while no worker runs (the manager
// ends an empty scope). It holds none of the host's descriptors and dies with the host.
pid_t StartAnchor() {
    pid_t parent = ::getpid();
    pid_t pid = ::fork();
    if (pid != 0) return pid;
    // Only async-signal-safe calls between fork and the end: the host has threads.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
    if (::getppid() != parent) ::_exit(0);
    int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    for (int fd = 0; fd <= 2; ++fd) ::dup2(null, fd);
    ::syscall(SYS_close_range, 3, ~0U, 0);
    for (;;) ::pause();
}

}  // namespace

std::vector<CgroupMount> ParseCgroupMounts(std::string_view mountinfo) {
    std::vector<CgroupMount> mounts;
    for (const std::string& line : Words(mountinfo, '\n')) {
        std::vector<std::string> fields = Words(line, ' ');
        size_t dash = 0;
        while (dash < fields.size() && fields[dash] != "-") ++dash;
        if (dash < 5 || dash + 3 >= fields.size()) continue;  // fields before and after "-"
        const std::string& type = fields[dash + 1];
        if (type != "cgroup" && type != "cgroup2") continue;
        CgroupMount mount;
        mount.root = UnescapeMountField(fields[3]);
        mount.mountPoint = UnescapeMountField(fields[4]);
        mount.v2 = type == "cgroup2";
        if (!mount.v2) mount.controllers = Words(fields[dash + 3], ',');
        mounts.push_back(std::move(mount));
    }
    return mounts;
}

std::string CgroupPathFor(std::string_view procCgroup, std::string_view controller) {
    for (const std::string& line : Words(procCgroup, '\n')) {
        size_t first = line.find(':');
        size_t second = first == std::string::npos ? std::string::npos : line.find(':', first + 1);
        if (second == std::string::npos) continue;
        std::string_view list = std::string_view(line).substr(first + 1, second - first - 1);
        std::string path = line.substr(second + 1);
        if (controller.empty()) {
            if (line.substr(0, first) == "0" && list.empty()) return path;
        } else if (Contains(Words(list, ','), controller)) {
            return path;
        }
    }
    return {};
}

std::string CgroupDirectory(const CgroupMount& mount, std::string_view groupPath) {
    if (groupPath.empty() || groupPath.front() != '/') return {};
    std::string_view root = mount.root;
    if (root == "/") root = {};
    if (groupPath.substr(0, root.size()) != root) return {};
    std::string_view rest = groupPath.substr(root.size());
    if (!rest.empty() && rest.front() != '/') return {};  // "/a" must not match "/ab"
    if (rest == "/") rest = {};
    return mount.mountPoint + std::string(rest);
}

LimitPlace ChooseLimitPlace(const std::vector<CgroupMount>& mounts, std::string_view membership,
                            std::string_view unifiedControllers, std::string_view unifiedSubtreeControl) {
    for (const CgroupMount& mount : mounts)
        for (const char* name : {"memory", "cpu"})
            if (!mount.v2 && Contains(mount.controllers, name) &&
                !CgroupDirectory(mount, CgroupPathFor(membership, name)).empty())
                return LimitPlace::kOwnGroups;
    for (const CgroupMount& mount : mounts) {
        if (!mount.v2 || CgroupDirectory(mount, CgroupPathFor(membership, "")).empty()) continue;
        std::vector<std::string> handedDown = WordsOf(unifiedSubtreeControl), available = WordsOf(unifiedControllers);
        if (Contains(handedDown, "memory") || Contains(handedDown, "cpu")) return LimitPlace::kOwnGroups;
        if (Contains(available, "memory") || Contains(available, "cpu")) return LimitPlace::kSystemdScope;
    }
    return LimitPlace::kNowhere;
}

uint64_t ControlCount(std::string_view text, std::string_view key) {
    for (const std::string& line : Words(text, '\n')) {
        std::vector<std::string> words = WordsOf(line);
        uint64_t value = 0;
        if (words.size() == 2 && words[0] == key &&
            std::from_chars(words[1].data(), words[1].data() + words[1].size(), value).ec == std::errc())
            return value;
    }
    return 0;
}

std::unique_ptr<WorkerGroup> WorkerGroup::Create(const LimitSettings& limits) {
    std::vector<CgroupMount> mounts = ParseCgroupMounts(ReadControlFile("/proc/self/mountinfo"));
    std::string membership = ReadControlFile("/proc/self/cgroup");

    // Where each controller can be used: the v2 group first, then a v1 hierarchy.
    std::string memory, cpu;  // the parent directories
    std::string unifiedControllers, unifiedSubtree;
    for (const CgroupMount& mount : mounts) {
        if (!mount.v2) continue;
        std::string dir = CgroupDirectory(mount, CgroupPathFor(membership, ""));
        if (dir.empty()) continue;
        unifiedControllers = ReadControlFile(dir + "/cgroup.controllers");
        std::vector<std::string> available = WordsOf(unifiedControllers);
        // Children get a controller only when the group hands it down; that fails in a
        // group that holds processes itself, unless it is the root.
        for (const char* name : {"memory", "cpu"}) {
            std::vector<std::string> enabled = WordsOf(ReadControlFile(dir + "/cgroup.subtree_control"));
            if (Contains(available, name) && !Contains(enabled, name))
                WriteControlFile(dir + "/cgroup.subtree_control", std::string("+") + name);
        }
        unifiedSubtree = ReadControlFile(dir + "/cgroup.subtree_control");
        std::vector<std::string> enabled = WordsOf(unifiedSubtree);
        if (Contains(enabled, "memory")) memory = dir;
        if (Contains(enabled, "cpu")) cpu = dir;
        break;
    }
    LimitPlace where = ChooseLimitPlace(mounts, membership, unifiedControllers, unifiedSubtree);
    if (where == LimitPlace::kSystemdScope) {
        std::unique_ptr<WorkerGroup> scope = CreateScope(limits);
        if (!scope)
            LogOnce("No systemd user manager answered: conversions run without a shared RAM and processor "
                    "limit; each still has its own memory limit");
        return scope;
    }
    for (const CgroupMount& mount : mounts) {
        if (mount.v2) continue;
        for (auto [name, place] : {std::pair<const char*, std::string*>{"memory", &memory}, {"cpu", &cpu}}) {
            if (!place->empty() || !Contains(mount.controllers, name)) continue;
            *place = CgroupDirectory(mount, CgroupPathFor(membership, name));
        }
    }

    std::unique_ptr<WorkerGroup> group(new WorkerGroup);
    std::string prefix = "quillaven-" + NamespaceTag() + "-";
    std::string name = prefix + Number(::getpid()) + "-" + Number(groupCounter.fetch_add(1));
    std::set<std::string> cleaned;
    for (std::string* parent : {&memory, &cpu}) {
        if (parent->empty()) continue;
        std::string dir = *parent + "/" + name;
        bool created = false;
        for (const std::string& existing : group->dirs_) created = created || existing == dir;
        if (!created) {
            if (cleaned.insert(*parent).second) RemoveAbandonedGroups(*parent, prefix);
            if (::mkdir(dir.c_str(), 0755) != 0) continue;
            int join = ::open((dir + "/cgroup.procs").c_str(), O_WRONLY | O_CLOEXEC);
            if (join < 0) {
                ::rmdir(dir.c_str());
                continue;
            }
            group->dirs_.push_back(dir);
            group->join_.push_back(join);
        }
        (parent == &memory ? group->memoryDir_ : group->cpuDir_) = dir;
    }
    if (group->dirs_.empty()) {
        if (where == LimitPlace::kOwnGroups)
            LogOnce("The control groups cannot be written here: conversions run without a shared RAM and "
                    "processor limit; each still has its own memory limit");
        return nullptr;
    }
    group->Apply(limits);
    return group;
}

std::unique_ptr<WorkerGroup> WorkerGroup::CreateScope(const LimitSettings& limits) {
    std::unique_ptr<WorkerGroup> group(new WorkerGroup);
    std::lock_guard lock(group->scopeMutex_);
    if (!group->StartScopeLocked(limits)) return nullptr;
    group->scoped_ = true;
    return group;
}

bool WorkerGroup::StartScopeLocked(const LimitSettings& limits) {
    limits_ = limits;
    anchor_ = StartAnchor();
    if (anchor_ < 0) return false;
    scope_ = SystemdScope::Start(anchor_, limits);
    if (scope_) return true;
    EndScopeLocked();
    return false;
}

void WorkerGroup::EndScopeLocked() {
    if (scope_) scope_->KillAll();
    scope_.reset();
    if (anchor_ > 0) {
        ::kill(anchor_, SIGKILL);
        while (::waitpid(anchor_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    anchor_ = -1;
}

bool WorkerGroup::Attach(pid_t pid) {
    std::lock_guard lock(scopeMutex_);
    if (!scope_) return false;
    if (scope_->Attach(pid)) return true;
    // The manager may have ended the scope (its idle process was killed, or the manager
    // restarted): a new one, once.
    EndScopeLocked();
    return StartScopeLocked(limits_) && scope_->Attach(pid);
}

std::string WorkerGroup::ScopeDirectory() const {
    if (anchor_ <= 0 || !scope_) return {};
    // Only a group that is the scope's own: until the manager has moved the idle process, it
    // sits in the host's group, whose members are no business of ours.
    std::string path = CgroupPathFor(ReadControlFile("/proc/" + Number(anchor_) + "/cgroup"), "");
    if (!path.ends_with("/" + scope_->UnitName())) return {};
    for (const CgroupMount& mount : ParseCgroupMounts(ReadControlFile("/proc/self/mountinfo")))
        if (mount.v2)
            if (std::string dir = CgroupDirectory(mount, path); !dir.empty()) return dir;
    return {};
}

uint64_t WorkerGroup::OomKills() const {
    if (scoped_) {
        std::lock_guard lock(scopeMutex_);
        std::string dir = ScopeDirectory();
        return dir.empty() ? 0 : ControlCount(ReadControlFile(dir + "/memory.events"), "oom_kill");
    }
    if (memoryDir_.empty()) return 0;
    if (std::string events = ReadControlFile(memoryDir_ + "/memory.events"); !events.empty())
        return ControlCount(events, "oom_kill");
    // v1: kernels since 4.13 count kills in oom_control; older ones only count how often
    // the limit was hit.
    std::string control = ReadControlFile(memoryDir_ + "/memory.oom_control");
    if (control.find("oom_kill ") != std::string::npos) return ControlCount(control, "oom_kill");
    return ControlCount("failcnt " + ReadControlFile(memoryDir_ + "/memory.failcnt"), "failcnt");
}

WorkerGroup::~WorkerGroup() {
    for (const std::string& dir : dirs_) KillMembers(dir);
    {
        std::lock_guard lock(scopeMutex_);
        KillScopeMembersLocked();
        EndScopeLocked();  // the manager kills the rest with the idle process
    }
    for (int fd : join_) ::close(fd);
    for (const std::string& dir : dirs_) RemoveGroup(dir);
}

void WorkerGroup::Apply(const LimitSettings& limits) {
    {
        std::lock_guard lock(scopeMutex_);
        limits_ = limits;
        if (scope_) scope_->Apply(limits);
    }
    bool memoryV2 = !memoryDir_.empty() && ::access((memoryDir_ + "/memory.max").c_str(), F_OK) == 0;
    if (!memoryDir_.empty()) {
        int64_t bytes = static_cast<int64_t>(limits.RamMB) * 1048576;
        if (memoryV2) {
            WriteControlFile(memoryDir_ + "/memory.max", limits.RamMB >= 1 ? Number(bytes) : "max");
            // Swap is not counted by memory.max: without this the workers together could
            // use far more than the limit.
            WriteControlFile(memoryDir_ + "/memory.swap.max", limits.RamMB >= 1 ? "0" : "max");
        } else {
            // Memory plus swap may never be below memory alone, so widen it first.
            WriteControlFile(memoryDir_ + "/memory.memsw.limit_in_bytes", "-1");
            WriteControlFile(memoryDir_ + "/memory.limit_in_bytes", limits.RamMB >= 1 ? Number(bytes) : "-1");
            if (limits.RamMB >= 1) WriteControlFile(memoryDir_ + "/memory.memsw.limit_in_bytes", Number(bytes));
        }
    }
    if (!cpuDir_.empty()) {
        bool cpuV2 = ::access((cpuDir_ + "/cpu.max").c_str(), F_OK) == 0;
        int64_t processors = std::max<int64_t>(1, ::sysconf(_SC_NPROCESSORS_ONLN));
        int64_t percent = std::max<int32_t>(1, limits.CpuPercent);
        int64_t quota = kCpuPeriodMicroseconds * processors * percent / 100;
        bool capped = limits.CpuPercent < 100;
        if (cpuV2) {
            WriteControlFile(cpuDir_ + "/cpu.max",
                             (capped ? Number(quota) : std::string("max")) + " " + Number(kCpuPeriodMicroseconds));
        } else {
            WriteControlFile(cpuDir_ + "/cpu.cfs_period_us", Number(kCpuPeriodMicroseconds));
            WriteControlFile(cpuDir_ + "/cpu.cfs_quota_us", capped ? Number(quota) : "-1");
        }
    }
}

std::vector<pid_t> WorkerGroup::Members() const {
    std::set<pid_t> all;
    for (const std::string& dir : dirs_)
        for (pid_t pid : ReadMembers(dir)) all.insert(pid);
    std::lock_guard lock(scopeMutex_);
    if (std::string dir = ScopeDirectory(); !dir.empty())
        for (pid_t pid : ReadMembers(dir))
            if (pid != anchor_) all.insert(pid);
    return {all.begin(), all.end()};
}

void WorkerGroup::KillAll() {
    for (const std::string& dir : dirs_) KillMembers(dir);
    std::lock_guard lock(scopeMutex_);
    if (!scope_) return;
    scope_->KillAll();  // the idle process too: the scope starts anew at the next worker
    KillScopeMembersLocked();
}

void WorkerGroup::KillScopeMembersLocked() {
    // What the manager has not seen yet goes one by one.
    if (std::string dir = ScopeDirectory(); !dir.empty())
        for (pid_t pid : ReadMembers(dir))
            if (pid != anchor_) ::kill(pid, SIGKILL);
}
