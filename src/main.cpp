// Process entry: a worker, a command-line conversion, a clean-up run, or the host.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "command_line.h"
#include "platform/single_instance.h"
#include "settings.h"
#include "shell/app.h"
#include "worker.h"

namespace {

constexpr int kHandOverTries = 60;  // about three seconds of looking for the host
constexpr int kHandOverRetryMs = 50;

std::string InstanceName() {
    const char* display = std::getenv("DISPLAY");
    return SingleInstanceName(::getuid(), display ? display : "");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--worker") == 0) {
        int code = worker::WorkerMain();
        // The control thread may still be blocked reading the host's pipe; leave without
        // running static destructors under its feet.
        std::fflush(stdout);
        ::_exit(code);
    }

    if (argc >= 2 && std::strcmp(argv[1], "--convert") == 0)
        return RunCommandLineConversion(std::vector<std::string>(argv + 2, argv + argc));

    bool background = false, uninstall = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--background") == 0) background = true;
        if (std::strcmp(argv[i], "--uninstall") == 0) uninstall = true;
    }
    if (uninstall) {
        RemoveAll();
        InstanceRequest close;
        close.kind = InstanceRequest::kClose;
        SendToHost(InstanceName(), close, 1, 0);  // a running host ends without a question
        return 0;
    }

    InstanceServer instance;
    if (instance.Bind(InstanceName()) == InstanceServer::BindResult::kTaken) {
        if (background) return 0;  // a sign-in start never disturbs a running host
        InstanceRequest show;
        show.kind = InstanceRequest::kShowSettings;
        if (const char* id = std::getenv("DESKTOP_STARTUP_ID")) show.startupId = id;
        SendToHost(InstanceName(), show, kHandOverTries, kHandOverRetryMs);
        return 0;
    }
    // Started from a launcher, the start-up notice is ours to end: the host's windows
    // carry their own times.
    ::unsetenv("DESKTOP_STARTUP_ID");
    return RunHost(instance, background);
}
