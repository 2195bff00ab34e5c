#include "platform/systemd_scope.h"

#include <signal.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <limits>

namespace {

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
    int r = sd_bus_message_append(message, "(sv)", "MemoryMax", "t", values.memoryMax);
    // Swap is not counted by MemoryMax: without this the workers could use far more.
    if (r >= 0) r = sd_bus_message_append(message, "(sv)", "MemorySwapMax", "t", values.memorySwapMax);
    if (r >= 0) r = sd_bus_message_append(message, "(sv)", "CPUQuotaPerSecUSec", "t", values.cpuQuotaPerSecUSec);
    return r;
}

// Sends a call made ready by `fill` to the manager; true on a reply that is no error.
template <typename Fill>
bool CallManager(sd_bus* bus, const char* method, Fill fill) {
    sd_bus_message* message = nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error error{};  // all null, as SD_BUS_ERROR_NULL (a compound literal C++ lacks)
    int r = sd_bus_message_new_method_call(bus, &message, kService, kObject, kManager, method);
    if (r >= 0) r = fill(message);
    if (r >= 0) r = sd_bus_call(bus, message, kCallTimeoutUs, &error, &reply);
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    sd_bus_message_unref(message);
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
    std::unique_ptr<SystemdScope> scope(new SystemdScope);
    if (sd_bus_open_user(&scope->bus_) < 0) return nullptr;
    scope->name_ = "quillaven-workers-" + std::to_string(::getpid()) + "-" + std::to_string(g_scopeCounter++) + ".scope";
    bool started = CallManager(scope->bus_, "StartTransientUnit", [&](sd_bus_message* m) {
        int r = sd_bus_message_append(m, "ss", scope->name_.c_str(), "fail");
        if (r >= 0) r = sd_bus_message_open_container(m, 'a', "(sv)");
        if (r >= 0) r = sd_bus_message_append(m, "(sv)", "Description", "s", "Quillaven conversions");
        if (r >= 0) r = sd_bus_message_append(m, "(sv)", "PIDs", "au", 1, static_cast<uint32_t>(firstMember));
        if (r >= 0) r = AppendLimits(m, limits);
        // One worker over the memory limit is killed; the others go on with their jobs.
        if (r >= 0) r = sd_bus_message_append(m, "(sv)", "OOMPolicy", "s", "continue");
        // Killed at the end, the scope counts as failed: it must not linger as such.
        if (r >= 0) r = sd_bus_message_append(m, "(sv)", "CollectMode", "s", "inactive-or-failed");
        if (r >= 0) r = sd_bus_message_close_container(m);
        if (r >= 0) r = sd_bus_message_append(m, "a(sa(sv))", 0);
        return r;
    });
    if (!started) return nullptr;
    return scope;
}

SystemdScope::~SystemdScope() { sd_bus_flush_close_unref(bus_); }

bool SystemdScope::Attach(pid_t pid) {
    std::lock_guard lock(mutex_);
    return CallManager(bus_, "AttachProcessesToUnit", [&](sd_bus_message* m) {
        return sd_bus_message_append(m, "ssau", name_.c_str(), "", 1, static_cast<uint32_t>(pid));
    });
}

bool SystemdScope::Apply(const LimitSettings& limits) {
    std::lock_guard lock(mutex_);
    return CallManager(bus_, "SetUnitProperties", [&](sd_bus_message* m) {
        int r = sd_bus_message_append(m, "sb", name_.c_str(), 1);  // runtime only: nothing survives a reboot
        if (r >= 0) r = sd_bus_message_open_container(m, 'a', "(sv)");
        if (r >= 0) r = AppendLimits(m, limits);
        if (r >= 0) r = sd_bus_message_close_container(m);
        return r;
    });
}

void SystemdScope::KillAll() {
    std::lock_guard lock(mutex_);
    CallManager(bus_, "KillUnit", [&](sd_bus_message* m) {
        return sd_bus_message_append(m, "ssi", name_.c_str(), "all", static_cast<int32_t>(SIGKILL));
    });
}
