// A scripted stand-in for the worker process, started as `fake_worker --worker`. It reads
// the request like the real worker and treats every input "path" as a script of steps
// separated by ";", so a test decides exactly what the host sees:
//
//   done                 "done i"
//   out:<path>           "output <path>"
//   outputs:<n>          n "output" lines
//   fail:<message>       "error i <message>"
//   progress:<x>         "progress <x>" with four decimals
//   line:<text>          <text> as one line, as it is
//   raw:<text>           <text> without a line feed
//   flood:<n>            n bytes of "f" without a line feed
//   sleep:<ms>           sleeps; a cancel ends the job ("cancelled", exit 0) unless ignored
//   ignore-cancel        from now on cancels are not honoured
//   wait-cancel          waits (up to 30 s) for a cancel, then "cancelled"
//   close-output         closes its standard output and error (the host sees their end)
//   crash                dies by SIGSEGV
//   exit:<code>          ends at once with that code
//   alloc:<MiB>          allocates and touches that much; an allocation failure reports
//                        the worker's own out-of-memory error line
//   hold:<MiB>           the same, kept until the process ends
//   busy:<ms>[:<threads>] spins for that long, then "output cpu <cpu µs> <wall µs>"
//   boost                gives its processor group the largest share of the machine (root
//                        only), so that on a busy machine the processor limit is what a
//                        test measures, not the other programs running
//   touch:<path>         creates a file (a signal to the test)
//   spawn:<path>         starts a child that sleeps a minute and writes its pid to <path>
//   report-fds           "output fds <fd>=<target> ..." for every open descriptor
//   report-process       "output process nice=.. core=.. data=.. cwd=.. nnp=.. pdeathsig=.."
//   report-pid:<path>    writes its process id to <path>
//   report-limits        "output limits <last limits line>"
//   wait-limits:<n>      waits (up to 30 s) until n limits lines have arrived
//   report-cgroup        "output cgroup <lines of /proc/self/cgroup joined by |>"
//
// Every input starts with "file i". Without a "--worker" argument it exits with 2.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "convert/core/text.h"
#include "platform/worker_group.h"
#include "protocol.h"

namespace {

std::atomic<bool> cancelRequested{false};
bool ignoreCancel = false;
std::mutex limitsMutex;
std::string lastLimits;
std::atomic<int> limitsLines{0};
bool sigpipeInherited = false;  // whether the host passed SIGPIPE down as ignored

void Line(const std::string& text) { WriteLine(text); }

[[noreturn]] void EndCancelled() {
    Line("cancelled");
    std::_Exit(0);
}

void CheckCancel() {
    if (cancelRequested.load() && !ignoreCancel) EndCancelled();
}

void SleepFor(long ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        CheckCancel();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    CheckCancel();
}

void ControlThread(LineReader* reader) {
    for (;;) {
        std::optional<std::string> line = reader->ReadLine();
        if (!line) {
            cancelRequested.store(true);
            return;
        }
        if (*line == "cancel") cancelRequested.store(true);
        if (ParseLimits(*line)) {
            std::lock_guard lock(limitsMutex);
            lastLimits = *line;
            ++limitsLines;
        }
    }
}

long CpuMicroseconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000L + usage.ru_utime.tv_usec + usage.ru_stime.tv_usec;
}

void Busy(long ms, int threads) {
    auto start = std::chrono::steady_clock::now();
    long cpuStart = CpuMicroseconds();
    auto end = start + std::chrono::milliseconds(ms);
    std::vector<std::thread> spinners;
    for (int i = 0; i < threads; ++i)
        spinners.emplace_back([end] {
            volatile unsigned long sink = 0;
            while (std::chrono::steady_clock::now() < end)
                for (int k = 0; k < 10000; ++k) sink = sink + static_cast<unsigned long>(k);
        });
    for (std::thread& spinner : spinners) spinner.join();
    long wall = static_cast<long>(
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count());
    Line("output cpu " + std::to_string(CpuMicroseconds() - cpuStart) + " " + std::to_string(wall));
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void Boost() {
    std::string membership = ReadText("/proc/self/cgroup");
    for (const CgroupMount& mount : ParseCgroupMounts(ReadText("/proc/self/mountinfo"))) {
        bool cpu = false;
        for (const std::string& controller : mount.controllers) cpu = cpu || controller == "cpu";
        if (mount.v2) {
            std::string dir = CgroupDirectory(mount, CgroupPathFor(membership, ""));
            if (!dir.empty()) std::ofstream(dir + "/cpu.weight") << "10000";
        } else if (cpu) {
            std::string dir = CgroupDirectory(mount, CgroupPathFor(membership, "cpu"));
            if (!dir.empty()) std::ofstream(dir + "/cpu.shares") << "262144";
        }
    }
    ::setpriority(PRIO_PROCESS, 0, -20);
}

std::vector<char*> held;

// Allocates in 1 MiB pieces and touches every page, as a converter filling buffers would.
bool Allocate(long mebibytes, bool keep) {
    std::vector<char*> pieces;
    bool ok = true;
    try {
        for (long i = 0; i < mebibytes; ++i) {
            char* piece = new char[1 << 20];
            for (size_t offset = 0; offset < (1u << 20); offset += 4096) piece[offset] = 1;
            pieces.push_back(piece);
        }
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    if (keep && ok) {
        held.insert(held.end(), pieces.begin(), pieces.end());
    } else {
        for (char* piece : pieces) delete[] piece;
    }
    return ok;
}


void ReportFds() {
    std::string text = "output fds";
    DIR* dir = ::opendir("/proc/self/fd");
    int own = dir ? ::dirfd(dir) : -1;
    while (dirent* entry = dir ? ::readdir(dir) : nullptr) {
        if (entry->d_name[0] == '.') continue;
        int fd = std::atoi(entry->d_name);
        if (fd == own) continue;
        char target[512];
        ssize_t length = ::readlink((std::string("/proc/self/fd/") + entry->d_name).c_str(), target, sizeof target - 1);
        target[length > 0 ? length : 0] = '\0';
        text += " " + std::to_string(fd) + "=" + target;
    }
    if (dir) ::closedir(dir);
    Line(text);
}

void ReportProcess() {
    errno = 0;
    int nice = ::getpriority(PRIO_PROCESS, 0);
    rlimit core{}, data{};
    ::getrlimit(RLIMIT_CORE, &core);
    ::getrlimit(RLIMIT_DATA, &data);
    char cwd[4096] = "";
    if (!::getcwd(cwd, sizeof cwd)) cwd[0] = '\0';
    int deathSignal = 0;
    ::prctl(PR_GET_PDEATHSIG, &deathSignal, 0, 0, 0);
    int noNewPrivs = ::prctl(PR_GET_NO_NEW_PRIVS, 0, 0, 0, 0);
    auto limit = [](rlim_t value) { return value == RLIM_INFINITY ? std::string("inf") : std::to_string(value); };
    Line("output process nice=" + std::to_string(nice) + " core=" + limit(core.rlim_cur) + "/" + limit(core.rlim_max) +
         " data=" + limit(data.rlim_cur) + " cwd=" + cwd + " nnp=" + std::to_string(noNewPrivs) +
         " pdeathsig=" + std::to_string(deathSignal) + " sigpipe=" +
         (sigpipeInherited ? "ignored" : "default"));
}

void WriteNumberFile(const std::string& path, long number) {
    std::string temporary = path + ".part";
    std::ofstream(temporary) << number << "\n";
    std::rename(temporary.c_str(), path.c_str());
}

void RunStep(size_t index, const std::string& step) {
    size_t colon = step.find(':');
    std::string name = step.substr(0, colon);
    std::string value = colon == std::string::npos ? std::string() : step.substr(colon + 1);
    std::string i = std::to_string(index);
    if (name == "done") {
        Line("done " + i);
    } else if (name == "out") {
        Line("output " + value);
    } else if (name == "outputs") {
        for (long k = 0, n = std::atol(value.c_str()); k < n; ++k) Line("output /tmp/fake-output-" + std::to_string(k));
    } else if (name == "fail") {
        Line("error " + i + " " + value);
    } else if (name == "progress") {
        char text[64];
        std::snprintf(text, sizeof text, "progress %.4f", std::atof(value.c_str()));
        Line(text);
    } else if (name == "line") {
        Line(value);
    } else if (name == "raw") {
        ssize_t ignored = ::write(STDOUT_FILENO, value.data(), value.size());
        (void)ignored;
    } else if (name == "flood") {
        std::string bytes(static_cast<size_t>(std::atol(value.c_str())), 'f');
        for (size_t done = 0; done < bytes.size();) {
            ssize_t wrote = ::write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
            if (wrote <= 0) break;
            done += static_cast<size_t>(wrote);
        }
    } else if (name == "sleep") {
        SleepFor(std::atol(value.c_str()));
    } else if (name == "ignore-cancel") {
        ignoreCancel = true;
    } else if (name == "wait-cancel") {
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!cancelRequested.load() && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (cancelRequested.load()) EndCancelled();
    } else if (name == "close-output") {
        ::close(STDOUT_FILENO);
        ::close(STDERR_FILENO);
    } else if (name == "crash") {
        std::signal(SIGSEGV, SIG_DFL);
        std::raise(SIGSEGV);
    } else if (name == "exit") {
        std::_Exit(std::atoi(value.c_str()));
    } else if (name == "alloc" || name == "hold") {
        // The same line the real worker writes after a failed allocation.
        if (!Allocate(std::atol(value.c_str()), name == "hold"))
            Line("error " + i + " Needed more memory than the RAM limit in Settings allows");
    } else if (name == "busy") {
        size_t second = value.find(':');
        int threads = second == std::string::npos ? 1 : std::atoi(value.c_str() + second + 1);
        Busy(std::atol(value.c_str()), threads);
    } else if (name == "boost") {
        Boost();
    } else if (name == "touch") {
        std::ofstream(value) << "";
    } else if (name == "spawn") {
        pid_t child = ::fork();
        if (child == 0) {
            for (int fd = 0; fd < 3; ++fd) ::close(fd);
            ::sleep(60);
            ::_exit(0);
        }
        WriteNumberFile(value, child);
    } else if (name == "report-fds") {
        ReportFds();
    } else if (name == "report-process") {
        ReportProcess();
    } else if (name == "report-pid") {
        WriteNumberFile(value, ::getpid());
    } else if (name == "report-limits") {
        std::lock_guard lock(limitsMutex);
        Line("output limits " + lastLimits);
    } else if (name == "wait-limits") {
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (limitsLines.load() < std::atoi(value.c_str()) && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    } else if (name == "report-cgroup") {
        std::string text = ReadText("/proc/self/cgroup");
        for (char& c : text)
            if (c == '\n') c = '|';
        Line("output cgroup " + text);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--worker") != 0) return 2;
    // Like the real worker: a write to a host that has gone fails quietly.
    sigpipeInherited = std::signal(SIGPIPE, SIG_IGN) == SIG_IGN;
    static LineReader reader(STDIN_FILENO);
    std::optional<WorkerRequest> request = ReadRequest(reader);
    if (!request) return 2;
    std::thread(ControlThread, &reader).detach();

    for (size_t index = 0; index < request->inputs.size(); ++index) {
        CheckCancel();
        Line("file " + std::to_string(index));
        for (const std::string& step : Split(std::string_view(request->inputs[index]), ';')) RunStep(index, step);
    }
    return 0;
}
