#include "shell/desktop_services.h"

#include <sys/wait.h>

#include <thread>

#include "platform/spawn.h"

namespace {

// xdg-open in a child of its own; the child is reaped when it ends (it hands the
// request to the desktop at once).
void OpenWithDesktop(const std::string& target) {
    pid_t pid = StartDetached({"xdg-open", target});
    if (pid > 0) {
        std::thread([pid] { ::waitpid(pid, nullptr, 0); }).detach();
    }
}

}  // namespace

DesktopServices CreateDesktopServices(EventLoop&) {
    DesktopServices services;
    services.showInFolder = [](const std::string& path) {
        size_t slash = path.rfind('/');
        OpenWithDesktop(slash == 0 ? std::string("/") : slash == std::string::npos ? path : path.substr(0, slash));
    };
    services.openUrl = [](const std::string& url) { OpenWithDesktop(url); };
    return services;
}
