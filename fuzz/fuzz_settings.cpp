// The settings file as people and programs leave it: any bytes as settings.ini, read through
// the same path as every start (the limits must stay within their bounds), and the same bytes
// as the control-group texts the runner parses.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/settings_file.h"
#include "platform/worker_group.h"
#include "settings.h"

namespace {

// A private settings folder for the whole run.
const std::string& SettingsPath() {
    static const std::string path = [] {
        static char folder[] = "/tmp/quillaven-fuzz-settings-XXXXXX";
        if (!::mkdtemp(folder)) std::abort();
        ::setenv("XDG_CONFIG_HOME", folder, 1);
        ::mkdir((std::string(folder) + "/quillaven").c_str(), 0700);
        std::atexit([] {
            ::unlink(SettingsPath().c_str());
            ::rmdir((std::string(folder) + "/quillaven").c_str());
            ::rmdir(folder);
        });
        return std::string(folder) + "/quillaven/settings.ini";
    }();
    return path;
}

bool Trimmed(const std::string& text) {
    return text.empty() || (text.front() != ' ' && text.front() != '\t' && text.back() != ' ' && text.back() != '\t');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const auto& [name, value] : SettingsFile::Parse(text))
        if (name.empty() || name.find_first_of("=\n") != std::string::npos || value.find('\n') != std::string::npos ||
            !Trimmed(name) || !Trimmed(value))
            std::abort();

    std::ofstream(SettingsPath(), std::ios::binary | std::ios::trunc).write(text.data(), static_cast<std::streamsize>(size));
    LimitSettings limits = ReadLimits();
    if (limits.CpuPercent < 5 || limits.CpuPercent > 100 || limits.GpuPercent < 5 || limits.GpuPercent > 100 ||
        limits.VramMB < 0 || limits.VramMB > 1048576 || limits.RamMB < 0 || limits.RamMB > 4194304 ||
        limits.ParallelJobs < 1 || limits.ParallelJobs > 4)
        std::abort();

    for (const CgroupMount& mount : ParseCgroupMounts(text)) CgroupDirectory(mount, CgroupPathFor(text, ""));
    ControlCount(text, "oom_kill");
    return 0;
}
