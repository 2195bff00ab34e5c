// A scripted stand-in for the worker. It reads the request like the real worker; each input is
// a script of steps separated by ";", run after the line "file <i>". A step that is no verb is
// written as a line (without spaces, its first ':' becomes one: "progress:0.5"). The verbs:
// sleep:<ms> and wait-cancel (up to 30 s) end the job with "cancelled" on a cancel or the input's
// end, unless after ignore-cancel; flood:<n> writes n bytes without a line feed; close-output;
// crash (SIGSEGV); alloc:<MiB> keeps that much or writes the real worker's out-of-memory error;
// busy:<ms> spins a thread per processor, with the largest processor share its control group
// can have (as root, so other programs cannot hide a limit), then writes "output <share of the
// machine's time>"; pid:<path> and spawn:<path> (a child that sleeps a minute) write a process
// id to <path>; sandbox installs the real worker's sandbox ("error 0 no sandbox" when it
// cannot); try-refused makes each call the sandbox refuses and writes "output <call>=<errno>";
// foreign:int80 and foreign:x32 make a call of another architecture from a second thread;
// hidden leaves a named hidden output file and a hidden output folder in the folder of the
// input (a script that starts "<folder>/x;"), as a converter does mid-write; shm:<MiB> touches that much shared memory, which a memory limit
// counts but a data limit does not. Every limits line after the request's is written back
// as "output <line>".
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/personality.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <fstream>
#include <functional>
#include <thread>

#include "convert/core/output_file.h"
#include "convert/core/paths.h"
#include "convert/core/text.h"
#include "platform/worker_group.h"
#include "platform/worker_sandbox.h"
#include "protocol.h"

namespace {

using Clock = std::chrono::steady_clock;
std::atomic<bool> cancelled{false};
std::string currentInput;
bool ignoreCancel = false;

void SleepFor(long ms, bool untilCancel) {
    auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end && !(cancelled && (untilCancel || !ignoreCancel)))
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (cancelled && !ignoreCancel) {
        WriteLine("cancelled");
        std::_Exit(0);
    }
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void Busy(long ms) {
    std::string membership = ReadText("/proc/self/cgroup");
    for (const CgroupMount& mount : ParseCgroupMounts(ReadText("/proc/self/mountinfo"))) {
        std::string dir = CgroupDirectory(mount, CgroupPathFor(membership, mount.v2 ? "" : "cpu"));
        if (dir.empty()) continue;
        if (mount.v2) std::ofstream(dir + "/cpu.weight") << "10000";
        if (std::count(mount.controllers.begin(), mount.controllers.end(), "cpu"))
            std::ofstream(dir + "/cpu.shares") << "262144";
    }
    ::setpriority(PRIO_PROCESS, 0, -20);
    long processors = ::sysconf(_SC_NPROCESSORS_ONLN);
    auto start = Clock::now();
    std::clock_t cpuStart = std::clock();
    std::vector<std::thread> spinners;
    for (long i = 0; i < processors; ++i)
        spinners.emplace_back([end = start + std::chrono::milliseconds(ms)] { while (Clock::now() < end) {} });
    for (std::thread& spinner : spinners) spinner.join();
    double cpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    double wall = std::chrono::duration<double>(Clock::now() - start).count();
    WriteLine("output " + std::to_string(cpu / wall / static_cast<double>(processors)));
}

void WriteNumberFile(const std::string& path, long number) {
    std::ofstream(path + ".part") << number << "\n";
    std::rename((path + ".part").c_str(), path.c_str());  // whole when it appears
}

std::string ErrnoName(long result) {
    if (result >= 0) return "ok";
    switch (errno) {
    case EPERM: return "EPERM";
    case EACCES: return "EACCES";
    case ENOSYS: return "ENOSYS";
    case EBADF: return "EBADF";
    case ESRCH: return "ESRCH";
    case EINVAL: return "EINVAL";
    default: return std::to_string(errno);
    }
}

// Every call the sandbox refuses. Those that take a process aim at this one, which the kernel
// would allow, so that only the filter can refuse them; the host itself is protected twice
// (non-dumpable, and the worker cannot trace), which the last two check.
void TryRefused() {
    pid_t self = ::getpid(), host = ::getppid();
    char byte = 0, copy = 0;
    iovec local{&copy, 1}, remote{&byte, 1};
    rlimit higher{RLIM_INFINITY, RLIM_INFINITY};
    const std::pair<const char*, std::function<long()>> calls[] = {
        {"ptrace", [&] { return ::syscall(SYS_ptrace, 0 /* PTRACE_TRACEME */, 0, 0, 0); }},
        {"process_vm_readv", [&] { return ::syscall(SYS_process_vm_readv, self, &local, 1, &remote, 1, 0); }},
        {"process_vm_writev", [&] { return ::syscall(SYS_process_vm_writev, self, &local, 1, &remote, 1, 0); }},
        {"pidfd_open", [&] { return ::syscall(SYS_pidfd_open, self, 0); }},
        {"pidfd_getfd", [&] { return ::syscall(SYS_pidfd_getfd, 0, 0, 0); }},
        {"setrlimit", [&] { return ::syscall(SYS_setrlimit, RLIMIT_DATA, &higher); }},
        {"prlimit64", [&] { return ::syscall(SYS_prlimit64, 0, RLIMIT_NOFILE, &higher, nullptr); }},
        {"personality", [&] { return ::syscall(SYS_personality, ADDR_NO_RANDOMIZE); }},
        {"add_key", [&] { return ::syscall(SYS_add_key, "user", "k", "v", 1, -3 /* session keyring */); }},
        {"request_key", [&] { return ::syscall(SYS_request_key, "user", "k", nullptr, 0); }},
        {"keyctl", [&] { return ::syscall(SYS_keyctl, 0 /* KEYCTL_GET_KEYRING_ID */, -3, 0); }},
        // Still allowed: reading a limit, asking for the personality, threads.
        {"getrlimit", [&] { return ::syscall(SYS_prlimit64, 0, RLIMIT_NOFILE, nullptr, &higher); }},
        {"personality-query", [&] { return ::syscall(SYS_personality, 0xffffffff); }},
        {"thread", [&] { std::thread([] {}).join(); return 0L; }},
        // The host's memory, through /proc and through tracing.
        {"host-mem", [&] { return static_cast<long>(::open(("/proc/" + std::to_string(host) + "/mem").c_str(), O_RDWR)); }},
        {"host-seize", [&] { return ::syscall(SYS_ptrace, 0x4206 /* PTRACE_SEIZE: the host would not stop */, host, 0, 0); }},
    };
    for (const auto& [name, call] : calls) WriteLine("output " + std::string(name) + "=" + ErrnoName(call()));
}

void ForeignCall(const std::string& kind) {
    std::thread([kind] {
        if (kind == "int80") {
#if defined(__x86_64__)
            long result = 20;  // getpid in the 32-bit table
            asm volatile("int $0x80" : "+a"(result) : : "memory");
#endif
        } else {
            ::syscall(0x40000000 | SYS_getpid);  // the x32 table
        }
    }).join();
    WriteLine("output survived");
}

void LeaveHidden(const std::string& folder) {
    static OutputFile* file = new OutputFile(folder, "partial", "pdf");  // kept: the process is to be killed
    file->Write(std::string(1 << 20, 'p'));
    file->TemporaryPath();  // a named temporary, as for a library that opens its output by name
    static OutputFolder* pages = new OutputFolder(folder, "partial pages");
    pages->WriteFile("Page 001.png", "png");
    WriteLine("output hidden");
}

void TouchShared(long mib) {
    size_t bytes = static_cast<size_t>(mib) << 20;
    void* memory = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return;
    for (size_t at = 0; at < bytes; at += 4096) static_cast<char*>(memory)[at] = 1;
    WriteLine("output touched");
}

void RunStep(std::string step) {
    size_t colon = step.find(':');
    std::string name = step.substr(0, colon);
    std::string value = colon == std::string::npos ? "" : step.substr(colon + 1);
    if (name == "sleep" || name == "wait-cancel") {
        SleepFor(value.empty() ? 30000 : std::stol(value), name == "wait-cancel");
    } else if (name == "ignore-cancel") {
        ignoreCancel = true;
    } else if (name == "flood") {
        std::string bytes(std::stoul(value), 'f');
        if (::write(STDOUT_FILENO, bytes.data(), bytes.size()) < 0) std::_Exit(3);  // a blocking pipe takes it whole
    } else if (name == "close-output") {
        for (int fd : {STDOUT_FILENO, STDERR_FILENO}) ::close(fd);
    } else if (name == "crash") {
        ::signal(SIGSEGV, SIG_DFL);
        ::raise(SIGSEGV);
    } else if (name == "alloc") {
        static std::vector<std::string> held;  // until the process ends
        try {
            for (long i = 0; i < std::stol(value); ++i) held.emplace_back(size_t(1) << 20, 'x');
        } catch (const std::bad_alloc&) {
            held.clear();
            WriteLine("error 0 Needed more memory than the RAM limit in Settings allows");
        }
    } else if (name == "sandbox") {
        if (!InstallWorkerSandbox()) WriteLine("error 0 no sandbox");
    } else if (name == "try-refused") {
        TryRefused();
    } else if (name == "foreign") {
        ForeignCall(value);
    } else if (name == "hidden") {
        LeaveHidden(FolderOf(currentInput));
    } else if (name == "shm") {
        TouchShared(std::stol(value));
    } else if (name == "busy") {
        Busy(std::stol(value));
    } else if (name == "pid") {
        WriteNumberFile(value, ::getpid());
    } else if (name == "spawn") {
        pid_t child = ::fork();
        if (child == 0) {
            for (int fd = 0; fd < 3; ++fd) ::close(fd);
            ::sleep(60);
            ::_exit(0);
        }
        WriteNumberFile(value, child);
    } else {
        if (step.find(' ') == std::string::npos && colon != std::string::npos) step[colon] = ' ';
        WriteLine(step);
    }
}

}  // namespace

int main() {
    static LineReader reader(STDIN_FILENO);
    std::optional<WorkerRequest> request = ReadRequest(reader);
    if (!request) return 2;
    std::thread([] {
        for (int limits = 0; std::optional<std::string> line = reader.ReadLine();) {
            if (*line == "cancel") cancelled = true;
            if (ParseLimits(*line) && limits++ > 0) WriteLine("output " + *line);  // a change after the request's
        }
        cancelled = true;  // the host closed the input or went away
    }).detach();
    for (size_t index = 0; index < request->inputs.size(); ++index) {
        WriteLine("file " + std::to_string(index));
        currentInput = request->inputs[index];
        for (const std::string& step : Split(std::string_view(request->inputs[index]), ';')) RunStep(step);
        SleepFor(0, false);  // after the steps: a started worker always runs its first script
    }
    return 0;
}
