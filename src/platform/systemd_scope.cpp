#include "platform/systemd_scope.h"

#include <dlfcn.h>
#include <signal.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <limits>
#include <type_traits>

// sd-bus is opened when a scope is first wanted, not linked: libsystemd brings half a dozen
// libraries with it, which every worker and every command-line run would otherwise load for
// nothing (on cgroup v1, and in workers, no scope is ever asked for).

namespace {

constexpr const char* kSystemdLibrary = "libsystemd.so.0";

// The sd-bus calls used here, found once; all null when the library is missing.
struct SdBus {
    decltype(&sd_bus_open_user) openUser = nullptr;
    decltype(&sd_bus_flush_close_unref) close = nullptr;
    decltype(&sd_bus_message_new_method_call) newCall = nullptr;
    decltype(&sd_bus_message_append) append = nullptr;
    decltype(&sd_bus_message_open_container) open = nullptr;
    decltype(&sd_bus_message_close_container) closeContainer = nullptr;
    decltype(&sd_bus_message_unref) unref = nullptr;
    decltype(&sd_bus_call) call = nullptr;
    decltype(&sd_bus_error_free) freeError = nullptr;

    bool Complete() const {
        return openUser && close && newCall && append && open && closeContainer && unref && call && freeError;
    }
};

const SdBus& Bus() {
    static const SdBus bus = [] {
        SdBus found;
        // Stays loaded: a host that asked for a scope keeps using it.
        void* library = ::dlopen(kSystemdLibrary, RTLD_LAZY | RTLD_LOCAL);
        if (!library) return found;
        auto find = [&](auto& slot, const char* name) {
            slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(::dlsym(library, name));
        };
        find(found.openUser, "sd_bus_open_user");
        find(found.close, "sd_bus_flush_close_unref");
        find(found.newCall, "sd_bus_message_new_method_call");
        find(found.append, "sd_bus_message_append");
        find(found.open, "sd_bus_message_open_container");
        find(found.closeContainer, "sd_bus_message_close_container");
        find(found.unref, "sd_bus_message_unref");
        find(found.call, "sd_bus_call");
        find(found.freeError, "sd_bus_error_free");
        return found;
    }();
    return bus;
}

constexpr const char* kService = "org.freedesktop.systemd1";
constexpr const char* kObject = "/org/freedesktop/systemd1";
constexpr const char* kManager = "org.freedesktop.systemd1.Manager";
constexpr uint64_t kCallTimeoutUs = 5'000'000;    // a manager that has not answered by now will not
constexpr uint64_t kNoLimit = std::numeric_limits<uint64_t>::max();  // "infinity" on the bus
constexpr uint64_t kMicrosecondsPerSecond = 1'000'000;

std::atomic<unsigned> g_scopeCounter{0};

// The properties that carry the limits, appended inside an open a(sv).
int AppendLimits(sd_bus_message* message, const LimitSettings& limits) {
    ScopeLimits values = ScopeLimitsFor(limits, ::sysconf(_SC_NPROCESSORS_ONLN));
    int r = Bus().append(message, "(sv)", "MemoryMax", "t", values.memoryMax);
    // Swap is not counted by MemoryMax: without this the workers could use far more.
    if (r >= 0) r = Bus().append(message, "(sv)", "MemorySwapMax", "t", values.memorySwapMax);
    if (r >= 0) r = Bus().append(message, "(sv)", "CPUQuotaPerSecUSec", "t", values.cpuQuotaPerSecUSec);
    return r;
}

// Sends a call made ready by `fill` to the manager; true on a reply that is no error.
template <typename Fill>
bool CallManager(sd_bus* bus, const char* method, Fill fill) {
    sd_bus_message* message = nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error error{};  // all null, as SD_BUS_ERROR_NULL (a compound literal C++ lacks)
    int r = Bus().newCall(bus, &message, kService, kObject, kManager, method);
    if (r >= 0) r = fill(message);
    if (r >= 0) r = Bus().call(bus, message, kCallTimeoutUs, &error, &reply);
    Bus().freeError(&error);
    Bus().unref(reply);
    Bus().unref(message);
    return r >= 0;
}

}  // namespace

ScopeLimits ScopeLimitsFor(const LimitSettings& limits, long processors) {
    ScopeLimits values{kNoLimit, kNoLimit, kNoLimit};
    if (limits.RamMB >= 1) {
        values.memoryMax = static_cast<uint64_t>(limits.RamMB) * 1048576;
        values.memorySwapMax = 0;
    }
    if (limits.CpuPercent < 100) {
        uint64_t percent = static_cast<uint64_t>(std::max(1, limits.CpuPercent));
        values.cpuQuotaPerSecUSec = kMicrosecondsPerSecond * static_cast<uint64_t>(std::max(1L, processors)) * percent / 100;
    }
    return values;
}

std::unique_ptr<SystemdScope> SystemdScope::Start(pid_t firstMember, const LimitSettings& limits) {
    if (!Bus().Complete()) return nullptr;
    std::unique_ptr<SystemdScope> scope(new SystemdScope);
    if (Bus().openUser(&scope->bus_) < 0) return nullptr;
    scope->name_ = "quillaven-workers-" + std::to_string(::getpid()) + "-" + std::to_string(g_scopeCounter++) + ".scope";
    bool started = CallManager(scope->bus_, "StartTransientUnit", [&](sd_bus_message* m) {
        int r = Bus().append(m, "ss", scope->name_.c_str(), "fail");
        if (r >= 0) r = Bus().open(m, 'a', "(sv)");
        if (r >= 0) r = Bus().append(m, "(sv)", "Description", "s", "Quillaven conversions");
        if (r >= 0) r = Bus().append(m, "(sv)", "PIDs", "au", 1, static_cast<uint32_t>(firstMember));
        if (r >= 0) r = AppendLimits(m, limits);
        // One worker over the memory limit is killed; the others go on with their jobs.
        if (r >= 0) r = Bus().append(m, "(sv)", "OOMPolicy", "s", "continue");
        // Killed at the end, the scope counts as failed: it must not linger as such.
        if (r >= 0) r = Bus().append(m, "(sv)", "CollectMode", "s", "inactive-or-failed");
        if (r >= 0) r = Bus().closeContainer(m);
        if (r >= 0) r = Bus().append(m, "a(sa(sv))", 0);
        return r;
    });
    if (!started) return nullptr;
    return scope;
}

SystemdScope::~SystemdScope() {
    if (bus_) Bus().close(bus_);
}

bool SystemdScope::Attach(pid_t pid) {
    std::lock_guard lock(mutex_);
    return CallManager(bus_, "AttachProcessesToUnit", [&](sd_bus_message* m) {
        return Bus().append(m, "ssau", name_.c_str(), "", 1, static_cast<uint32_t>(pid));
    });
}

bool SystemdScope::Apply(const LimitSettings& limits) {
    std::lock_guard lock(mutex_);
    return CallManager(bus_, "SetUnitProperties", [&](sd_bus_message* m) {
        int r = Bus().append(m, "sb", name_.c_str(), 1);  // runtime only: nothing survives a reboot
        if (r >= 0) r = Bus().open(m, 'a', "(sv)");
        if (r >= 0) r = AppendLimits(m, limits);
        if (r >= 0) r = Bus().closeContainer(m);
        return r;
    });
}

void SystemdScope::KillAll() {
    std::lock_guard lock(mutex_);
    CallManager(bus_, "KillUnit", [&](sd_bus_message* m) {
        return Bus().append(m, "ssi", name_.c_str(), "all", static_cast<int32_t>(SIGKILL));
    });
}
