#include "platform/worker_sandbox.h"

#include <dirent.h>
#include <errno.h>
#include <sched.h>
#include <seccomp.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <initializer_list>

namespace {

constexpr int kLowNice = 19;
constexpr int kBelowNormalNice = 10;
// ioprio_set encoding: class in the top bits, level below.
constexpr int kIoPrioClassShift = 13;
constexpr int kIoPrioClassBestEffort = 2;
constexpr int kIoPrioClassIdle = 3;
constexpr int kIoPrioLowestBestEffortLevel = 7;
constexpr int kIoPrioWhoProcess = 1;  // a single thread id
constexpr scmp_datum_t kPersonalityQuery = 0xffffffff;  // personality(0xffffffff) only reads it

void SetThreadPriority(pid_t thread, bool low) {
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(thread), low ? kLowNice : kBelowNormalNice);
    struct sched_param param = {};
    ::sched_setscheduler(thread, low ? SCHED_IDLE : SCHED_OTHER, &param);
    int ioprio = low ? (kIoPrioClassIdle << kIoPrioClassShift)
                     : ((kIoPrioClassBestEffort << kIoPrioClassShift) | kIoPrioLowestBestEffortLevel);
    ::syscall(SYS_ioprio_set, kIoPrioWhoProcess, thread, ioprio);
}

// Root keeps its capabilities in a worker; without this one it can no longer open the memory
// of a non-dumpable process. For everyone else this changes nothing.
void DropTracingCapability() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (::syscall(SYS_capget, &header, data) != 0) return;
    constexpr unsigned bit = 1u << (CAP_SYS_PTRACE % 32);
    constexpr size_t word = CAP_SYS_PTRACE / 32;
    data[word].effective &= ~bit;
    data[word].permitted &= ~bit;
    data[word].inheritable &= ~bit;
    ::syscall(SYS_capset, &header, data);
    ::prctl(PR_CAPBSET_DROP, CAP_SYS_PTRACE, 0, 0, 0);
}

}  // namespace

// libseccomp's argument macros use a C99 compound literal, which clang flags in C++.
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wc99-extensions"
#endif

bool InstallWorkerSandbox() {
    ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    DropTracingCapability();
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
    if (!filter) return false;
    const uint32_t eperm = SCMP_ACT_ERRNO(EPERM);
    // A call of a foreign architecture is no mistake of ours but an attack on the filter;
    // killing one thread would leave the rest of the worker waiting for it forever.
    bool ok = seccomp_attr_set(filter, SCMP_FLTATR_ACT_BADARCH, SCMP_ACT_KILL_PROCESS) == 0 &&
              seccomp_attr_set(filter, SCMP_FLTATR_CTL_TSYNC, 1) == 0;
    for (int call : {SCMP_SYS(execve), SCMP_SYS(execveat), SCMP_SYS(fork), SCMP_SYS(vfork), SCMP_SYS(ptrace),
                     SCMP_SYS(process_vm_readv), SCMP_SYS(process_vm_writev), SCMP_SYS(pidfd_open),
                     SCMP_SYS(pidfd_getfd), SCMP_SYS(setrlimit), SCMP_SYS(add_key), SCMP_SYS(request_key),
                     SCMP_SYS(keyctl)})
        ok = ok && seccomp_rule_add(filter, eperm, call, 0) == 0;
    ok = ok &&
         // A clone without CLONE_THREAD makes a process; thread creation stays allowed.
         seccomp_rule_add(filter, eperm, SCMP_SYS(clone), 1, SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_THREAD, 0)) == 0 &&
         // clone3 passes its flags in memory, which a filter cannot read: answering
         // ENOSYS makes the C library fall back to clone, which the rule above checks.
         seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0) == 0 &&
         // Reading a limit stays allowed (getrlimit is prlimit64 without a new value).
         seccomp_rule_add(filter, eperm, SCMP_SYS(prlimit64), 1, SCMP_A2(SCMP_CMP_NE, 0, 0)) == 0 &&
         // So does asking for the personality, which changes nothing.
         seccomp_rule_add(filter, eperm, SCMP_SYS(personality), 1, SCMP_A0(SCMP_CMP_NE, kPersonalityQuery, 0)) == 0 &&
         seccomp_load(filter) == 0;
    seccomp_release(filter);
    return ok;
}

void ProtectHostFromWorkers() { ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0); }

void SetProcessPriority(bool low) {
    // Linux keeps these per thread, so every thread of the process is changed.
    DIR* tasks = ::opendir("/proc/self/task");
    if (!tasks) {
        SetThreadPriority(0, low);
        return;
    }
    while (struct dirent* entry = ::readdir(tasks)) {
        if (entry->d_name[0] == '.') continue;
        SetThreadPriority(static_cast<pid_t>(std::atoi(entry->d_name)), low);
    }
    ::closedir(tasks);
}
