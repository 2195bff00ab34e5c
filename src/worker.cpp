#include "worker.h"

#include <signal.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <new>
#include <thread>

#include "convert/core/dispatch.h"
#include "convert/core/errors.h"
#include "platform/worker_sandbox.h"
#include "protocol.h"
#include "settings.h"

namespace worker {
namespace {

constexpr double kProgressStep = 0.004;      // 0.4 %: finer steps are noise in a progress bar
constexpr uint64_t kProgressIntervalMs = 250;  // at least four lines a second get through

std::atomic<bool> g_cancel{false};
LiveLimits g_limits;
bool g_appliedLowPriority = false;

LineReader& Input() {
    static LineReader reader(STDIN_FILENO);
    return reader;
}

uint64_t NowMs() {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void ControlLoop() {
    for (;;) {
        std::optional<std::string> line = Input().ReadLine();
        if (!line) {
            // The host closed our input or died: nobody wants the result any more.
            g_cancel.exchange(true);
            return;
        }
        if (*line == "cancel") {
            g_cancel.exchange(true);
        } else if (std::optional<LimitSettings> limits = ParseLimits(*line)) {
            g_limits.Set(*limits);
            if (limits->LowPriority != g_appliedLowPriority) ApplyPriority(limits->LowPriority);
        }
    }
}

}  // namespace

bool ProgressThrottle::Accept(double value, uint64_t nowMs) {
    if (value >= 0 && value - last_ < kProgressStep && nowMs - lastMs_ < kProgressIntervalMs) return false;
    if (value == last_) return false;
    last_ = value;
    lastMs_ = nowMs;
    return true;
}

std::string ProgressLine(double value) {
    char digits[48];
    auto result = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, 4);
    return "progress " + std::string(digits, result.ptr);
}

void ApplyPriority(bool lowPriority) {
    SetProcessPriority(lowPriority);
    g_appliedLowPriority = lowPriority;
}

bool ConvertOne(size_t index, const std::string& path, const Target& target, std::atomic<bool>& cancel,
                LiveLimits& limits) {
    std::string number = std::to_string(index);
    WriteLine("file " + number);
    ProgressThrottle throttle;
    ConvertContext context;
    context.cancel = &cancel;
    context.limits = &limits;
    context.progress = [&throttle](double value) {
        if (throttle.Accept(value, NowMs())) WriteLine(ProgressLine(value));
    };
    try {
        std::vector<std::string> outputs = ConvertFile(path, target, context);
        for (const std::string& output : outputs) WriteLine("output " + output);
        WriteLine("done " + number);
        return true;
    } catch (const Cancelled&) {
        WriteLine("cancelled");
        return false;
    } catch (const ConvertError& error) {
        std::string message = error.message;
        if (error.code == E_OUTOFMEMORY) message += " (out of memory; check the RAM limit in Settings)";
        WriteLine("error " + number + " " + message);
    } catch (const std::bad_alloc&) {
        WriteLine("error " + number + " Needed more memory than the RAM limit in Settings allows");
    } catch (const std::exception&) {
        WriteLine("error " + number + " Something unexpected went wrong");
    }
    return true;
}

int WorkerMain() {
    // A worker never starts programs nor reaches its host: whatever a damaged file makes a
    // decoder do, it cannot escape into a new process or into the host.
    bool confined = InstallWorkerSandbox();
    ::signal(SIGPIPE, SIG_IGN);  // a host that went away makes writes fail, not kill us

    std::optional<WorkerRequest> request = ReadRequest(Input());
    if (!request) return 2;
    if (!confined) {
        // Converting without the sandbox would hand damaged files an unguarded process.
        for (size_t i = 0; i < request->inputs.size(); ++i) {
            WriteLine("file " + std::to_string(i));
            WriteLine("error " + std::to_string(i) + " Couldn't start the converter");
        }
        return 0;
    }

    g_limits.Set(ReadLimits());
    g_appliedLowPriority = !g_limits.Get().LowPriority;
    ApplyPriority(g_limits.Get().LowPriority);
    std::thread(ControlLoop).detach();

    for (size_t i = 0; i < request->inputs.size(); ++i)
        if (!ConvertOne(i, request->inputs[i], request->target, g_cancel, g_limits)) break;
    return 0;
}

}  // namespace worker
