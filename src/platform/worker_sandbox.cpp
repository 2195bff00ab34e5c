#include "platform/worker_sandbox.h"

#include <dirent.h>
#include <errno.h>
#include <sched.h>
#include <seccomp.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>

namespace {

constexpr int kLowNice = 19;
constexpr int kBelowNormalNice = 10;
// ioprio_set encoding: class in the top bits, level below.
constexpr int kIoPrioClassShift = 13;
constexpr int kIoPrioClassBestEffort = 2;
constexpr int kIoPrioClassIdle = 3;
constexpr int kIoPrioLowestBestEffortLevel = 7;
constexpr int kIoPrioWhoProcess = 1;  // a single thread id

void SetThreadPriority(pid_t thread, bool low) {
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(thread), low ? kLowNice : kBelowNormalNice);
    struct sched_param param = {};
    ::sched_setscheduler(thread, low ? SCHED_IDLE : SCHED_OTHER, &param);
    int ioprio = low ? (kIoPrioClassIdle << kIoPrioClassShift)
                     : ((kIoPrioClassBestEffort << kIoPrioClassShift) | kIoPrioLowestBestEffortLevel);
    ::syscall(SYS_ioprio_set, kIoPrioWhoProcess, thread, ioprio);
}

}  // namespace

// libseccomp's argument macros use a C99 compound literal, which clang flags in C++.
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wc99-extensions"
#endif

bool InstallWorkerSandbox() {
    ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
    if (!filter) return false;
    bool ok = seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(execve), 0) == 0 &&
              seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(execveat), 0) == 0 &&
              seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(fork), 0) == 0 &&
              seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(vfork), 0) == 0 &&
              // A clone without CLONE_THREAD makes a process; thread creation stays allowed.
              seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(clone), 1,
                               SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_THREAD, 0)) == 0 &&
              // clone3 passes its flags in memory, which a filter cannot read: answering
              // ENOSYS makes the C library fall back to clone, which the rule above checks.
              seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0) == 0 &&
              seccomp_load(filter) == 0;
    seccomp_release(filter);
    return ok;
}

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
