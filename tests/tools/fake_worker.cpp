// A scripted stand-in for the worker. It reads the request like the real worker; each input is
// a script of steps separated by ";", run after the line "file <i>". A step that is no verb is
// written as a line (without spaces, its first ':' becomes one: "progress:0.5"). The verbs:
// sleep:<ms> and wait-cancel (up to 30 s) end the job with "cancelled" on a cancel or the input's
// end, unless after ignore-cancel; flood:<n> writes n bytes without a line feed; close-output;
// crash (SIGSEGV); alloc:<MiB> keeps that much or writes the real worker's out-of-memory error;
// busy:<ms> spins a thread per processor, with the largest processor share its control group
// can have (as root, so other programs cannot hide a limit), then writes "output <share of the
// machine's time>"; pid:<path> and spawn:<path> (a child that sleeps a minute) write a process
// id to <path>. Every limits line after the request's is written back as "output <line>".
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <fstream>
#include <thread>

#include "convert/core/text.h"
#include "platform/worker_group.h"
#include "protocol.h"

namespace {

using Clock = std::chrono::steady_clock;
std::atomic<bool> cancelled{false};
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
        for (const std::string& step : Split(std::string_view(request->inputs[index]), ';')) RunStep(step);
        SleepFor(0, false);  // after the steps: a started worker always runs its first script
    }
    return 0;
}
