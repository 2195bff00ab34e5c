#include "settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <optional>

#include "convert/core/catalog.h"
#include "convert/core/process.h"
#include "platform/file_io.h"
#include "platform/settings_file.h"
#include "platform/xdg.h"

namespace {

// Bounds applied to what is read; a missing value gives the default instead.
constexpr uint32_t kMinPercent = 5;            // below this a conversion would crawl
constexpr uint32_t kMaxPercent = 100;
constexpr uint32_t kMaxVramMB = 1048576;       // 1 TiB: beyond any graphics card
constexpr uint32_t kMaxRamMB = 4194304;        // 4 TiB: beyond any desktop
constexpr uint32_t kMaxParallelJobs = 4;       // the runner has at most four supervisor threads
constexpr size_t kDesktopEntryLimit = 1 << 16;  // an autostart entry is a few lines

SettingsFile Store() { return SettingsFile(ConfigHome() + "/quillaven/settings.ini"); }

std::string AutostartPath() { return ConfigHome() + "/autostart/quillaven.desktop"; }

// A stored 32-bit number, read unsigned: a stored -5 is a very large number. Text that
// is not a 32-bit integer is of the wrong type and counts as missing. Spaces around the
// "=" and a leading "+" are how people write numbers by hand, and are accepted.
std::optional<uint32_t> Read32(const SettingsFile::Values& values, std::string_view name) {
    auto found = values.find(name);
    if (found == values.end() || found->second.empty()) return std::nullopt;
    std::string_view text = found->second;
    // An explicit plus sign is still the same number ("+64"); a sign after it is not.
    if (text.front() == '+' && text.size() > 1 && text[1] != '-') text.remove_prefix(1);
    int64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    if (value < INT32_MIN || value > UINT32_MAX) return std::nullopt;
    return static_cast<uint32_t>(value);
}

uint32_t ReadNumber(const SettingsFile::Values& values, std::string_view name, uint32_t fallback) {
    return Read32(values, name).value_or(fallback);
}

bool ReadFlag(const SettingsFile::Values& values, std::string_view name, bool fallback) {
    std::optional<uint32_t> value = Read32(values, name);
    return value ? *value != 0 : fallback;
}

void WriteNumber(std::string name, int64_t value) { Store().Update({{std::move(name), std::to_string(value)}}); }

uint32_t Clamp(uint32_t value, uint32_t low, uint32_t high) { return value < low ? low : value > high ? high : value; }

// Quotes a path for a desktop entry's Exec key.
std::string QuoteExec(const std::string& path) {
    std::string quoted = "\"";
    for (char c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted.push_back('\\');
        quoted.push_back(c);
    }
    return quoted + "\"";
}

void WriteAutostart() {
    std::string path = AutostartPath();
    std::string folder = ConfigHome() + "/autostart";
    ::mkdir(ConfigHome().c_str(), 0700);
    ::mkdir(folder.c_str(), 0700);
    std::string entry = "[Desktop Entry]\nType=Application\nName=Quillaven\nExec=" + QuoteExec(ModulePath()) +
                        " --background\nX-GNOME-Autostart-enabled=true\n";
    ReplaceFile(path, entry, 0644);
}

}  // namespace

LimitSettings ReadLimits() {
    SettingsFile::Values store = Store().ReadAll();
    LimitSettings defaults;
    LimitSettings limits;
    limits.CpuPercent = static_cast<int32_t>(Clamp(ReadNumber(store, "CpuPercent", 60), kMinPercent, kMaxPercent));
    limits.GpuPercent = static_cast<int32_t>(Clamp(ReadNumber(store, "GpuPercent", 70), kMinPercent, kMaxPercent));
    limits.VramMB = static_cast<int32_t>(std::min(ReadNumber(store, "VramMB", 1536), kMaxVramMB));
    limits.RamMB = static_cast<int32_t>(std::min(ReadNumber(store, "RamMB", 4096), kMaxRamMB));
    limits.ParallelJobs = static_cast<int32_t>(Clamp(ReadNumber(store, "ParallelJobs", 2), 1, kMaxParallelJobs));
    limits.GpuAcceleration = ReadFlag(store, "GpuAcceleration", defaults.GpuAcceleration);
    limits.LowPriority = ReadFlag(store, "LowPriority", defaults.LowPriority);
    return limits;
}

void WriteLimits(const LimitSettings& limits) {
    Store().Update({{"CpuPercent", std::to_string(limits.CpuPercent)},
                    {"GpuPercent", std::to_string(limits.GpuPercent)},
                    {"VramMB", std::to_string(limits.VramMB)},
                    {"RamMB", std::to_string(limits.RamMB)},
                    {"ParallelJobs", std::to_string(limits.ParallelJobs)},
                    {"GpuAcceleration", limits.GpuAcceleration ? "1" : "0"},
                    {"LowPriority", limits.LowPriority ? "1" : "0"}});
}

LimitSettings Preset(int number) {
    if (number == 0) return LimitSettings{25, 35, 512, 1024, 1, true, true};
    if (number == 2) return LimitSettings{100, 100, 0, 0, 3, true, false};
    return LimitSettings{60, 70, 1536, 4096, 2, true, true};
}

bool ReadDragGesture() { return ReadFlag(Store().ReadAll(), "DragGesture", true); }
void WriteDragGesture(bool on) { WriteNumber("DragGesture", on ? 1 : 0); }
bool ReadCheckForUpdates() { return ReadFlag(Store().ReadAll(), "CheckForUpdates", false); }
void WriteCheckForUpdates(bool on) { WriteNumber("CheckForUpdates", on ? 1 : 0); }

int64_t ReadLastUpdateCheck() {
    SettingsFile::Values values = Store().ReadAll();
    auto found = values.find("LastUpdateCheck");
    if (found == values.end()) return 0;
    const std::string& text = found->second;
    int64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() ? value : 0;
}

void WriteLastUpdateCheck(int64_t seconds) { WriteNumber("LastUpdateCheck", seconds); }
bool IsFirstRun() { return !ReadFlag(Store().ReadAll(), "Initialized", false); }
void MarkInitialized() { WriteNumber("Initialized", 1); }

bool IsStartWithWindows() {
    std::optional<std::string> text = ReadSmallFile(AutostartPath(), kDesktopEntryLimit);
    return text && (text->starts_with("Exec=") || text->find("\nExec=") != std::string::npos);
}

void SetStartWithWindows(bool on) {
    if (on)
        WriteAutostart();
    else
        ::unlink(AutostartPath().c_str());
}

void RefreshStartWithWindows() {
    if (IsStartWithWindows()) WriteAutostart();
}

void RemoveContextMenus() {
    std::string data = DataHome();
    for (const std::string& extension : AllExtensions())
        ::unlink((data + "/file-manager/actions/quillaven-convert-" + extension + ".desktop").c_str());
    ::unlink((data + "/kio/servicemenus/quillaven.desktop").c_str());
    ::unlink((data + "/nautilus/scripts/Quillaven").c_str());
}

void RemoveAll() {
    RemoveContextMenus();
    ::unlink(AutostartPath().c_str());
    Store().RemoveAll();
}
