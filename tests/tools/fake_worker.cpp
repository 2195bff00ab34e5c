// A scripted stand-in for the worker. It reads the request like the real worker; every input
// "path" is a script of steps separated by ";", run after the line "file <i>". A step that is
// no verb below is written as one line (without spaces, its first ':' becomes one, so
// "progress:0.5" is "progress 0.5"). Verbs:
//   sleep:<ms>, wait-cancel  sleeps (wait-cancel: 30 s or until a cancel); a cancel or the end
//                            of the input ends the job with "cancelled", unless after ignore-cancel
//   flood:<n>                n bytes of "f" without a line feed
//   close-output, crash      closes standard output and error / dies by SIGSEGV
//   alloc:<MiB>              allocates and touches that much for good; when that fails, the
//                            real worker's out-of-memory error line
//   busy:<ms>                takes the largest processor share its control group can have (as
//                            root), so other programs cannot hide a limit; spins a thread per
//                            processor, then "output <share of the machine's time it got>"
//   pid:<path>, spawn:<path> writes its id / starts a child that sleeps a minute and writes its id
//   limits:<n>               waits (up to 30 s) for the n-th limits line, then "output <line>"
//   report                   "output fds <fd>=<target>..." and "output nice=.. core=.. data=..
//                            cwd=.. nnp=.. pdeathsig=.. sigpipe=.."
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>

#include "convert/core/text.h"
#include "platform/worker_group.h"
#include "protocol.h"

namespace {

using Clock = std::chrono::steady_clock;
std::atomic<bool> cancelled{false};
bool ignoreCancel = false;
bool sigpipeIgnored = false;  // by the host, before it started us
std::mutex limitsMutex;
std::vector<std::string> limitsLines;

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
        if (std::count(mount.controllers.begin(), mount.controllers.end(), "cpu")) std::ofstream(dir + "/cpu.shares") << "262144";
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

void Report() {
    std::string fds = "output fds";
    for (int fd = 0; fd < 1024; ++fd) {  // far above what a host leaking a few would reach
        char target[256];
        ssize_t length = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof target);
        if (length > 0) fds += " " + std::to_string(fd) + "=" + std::string(target, static_cast<size_t>(length));
    }
    WriteLine(fds);
    rlimit core{}, data{};
    ::getrlimit(RLIMIT_CORE, &core);
    ::getrlimit(RLIMIT_DATA, &data);
    auto limit = [](rlim_t value) { return value == RLIM_INFINITY ? std::string("inf") : std::to_string(value); };
    int deathSignal = 0;
    ::prctl(PR_GET_PDEATHSIG, &deathSignal, 0, 0, 0);
    char cwd[4096] = "";
    WriteLine("output nice=" + std::to_string(::getpriority(PRIO_PROCESS, 0)) + " core=" + limit(core.rlim_cur) + "/" +
              limit(core.rlim_max) + " data=" + limit(data.rlim_cur) + " cwd=" + (::getcwd(cwd, sizeof cwd) ? cwd : "") +
              " nnp=" + std::to_string(::prctl(PR_GET_NO_NEW_PRIVS, 0, 0, 0, 0)) + " pdeathsig=" +
              std::to_string(deathSignal) + " sigpipe=" + (sigpipeIgnored ? "ignored" : "default"));
}

void WriteNumberFile(const std::string& path, long number) {
    std::ofstream(path + ".part") << number << "\n";
    std::rename((path + ".part").c_str(), path.c_str());  // whole when it appears
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
        std::vector<std::unique_ptr<char[]>> pieces;
        try {
            for (long i = 0; i < std::stol(value); ++i) std::memset(pieces.emplace_back(new char[1 << 20]).get(), 1, 1 << 20);
            for (auto& piece : pieces) piece.release();
        } catch (const std::bad_alloc&) {
            pieces.clear();
            WriteLine("error 0 Needed more memory than the RAM limit in Settings allows");
        }
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
    } else if (name == "limits") {
        for (auto end = Clock::now() + std::chrono::seconds(30); Clock::now() < end;) {
            std::unique_lock lock(limitsMutex);
            if (limitsLines.size() >= std::stoul(value)) return WriteLine("output " + limitsLines[std::stoul(value) - 1]);
            lock.unlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    } else if (name == "report") {
        Report();
    } else {
        if (step.find(' ') == std::string::npos && colon != std::string::npos) step[colon] = ' ';
        WriteLine(step);
    }
}

}  // namespace

int main() {
    sigpipeIgnored = ::signal(SIGPIPE, SIG_IGN) == SIG_IGN;  // and, like the real worker, ignore it
    static LineReader reader(STDIN_FILENO);
    std::optional<WorkerRequest> request = ReadRequest(reader);
    if (!request) return 2;
    std::thread([] {
        while (std::optional<std::string> line = reader.ReadLine()) {
            if (*line == "cancel") cancelled = true;
            std::lock_guard lock(limitsMutex);
            if (ParseLimits(*line)) limitsLines.push_back(*line);
        }
        cancelled = true;  // the host closed the input or went away
    }).detach();
    for (size_t index = 0; index < request->inputs.size(); ++index) {
        SleepFor(0, false);
        WriteLine("file " + std::to_string(index));
        for (const std::string& step : Split(std::string_view(request->inputs[index]), ';')) RunStep(step);
    }
    return 0;
}
