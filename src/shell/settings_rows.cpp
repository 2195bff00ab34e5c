#include "shell/settings_rows.h"

#include <algorithm>
#include <cstdio>

#include "settings.h"

namespace {

constexpr int kPresetCount = 3;

std::vector<std::string> Labels(const std::vector<int32_t>& stops, bool percent) {
    std::vector<std::string> labels;
    for (int32_t stop : stops) labels.push_back(percent ? std::to_string(stop) + "%" : MemoryLabel(stop));
    return labels;
}

Setting Row(RowKind kind, std::string label, std::string description, RowAction action = RowAction::kNone) {
    Setting row;
    row.kind = kind;
    row.label = std::move(label);
    row.description = std::move(description);
    row.action = action;
    return row;
}

Setting Slider(std::string label, std::string description, std::vector<int32_t> stops, bool percent) {
    Setting row = Row(RowKind::kSlider, std::move(label), std::move(description), RowAction::kLimit);
    row.options = Labels(stops, percent);
    row.stops = std::move(stops);
    return row;
}

int32_t StopValue(const Setting& row) {
    if (row.selected < 0 || static_cast<size_t>(row.selected) >= row.stops.size()) return row.stops.empty() ? 0 : row.stops.back();
    return row.stops[static_cast<size_t>(row.selected)];
}

}  // namespace

std::vector<int32_t> PercentStops() {
    std::vector<int32_t> stops;
    for (int32_t value = 10; value <= 100; value += 5) stops.push_back(value);
    return stops;
}

std::vector<int32_t> VideoMemoryStops() { return {256, 512, 1024, 1536, 2048, 3072, 4096, 6144, 8192, 0}; }
std::vector<int32_t> MemoryStops() { return {512, 1024, 2048, 3072, 4096, 6144, 8192, 12288, 16384, 0}; }

std::string MemoryLabel(int32_t megabytes) {
    if (megabytes == 0) return "No limit";
    char text[32];
    if (megabytes >= 1024) {
        double gigabytes = megabytes / 1024.0;
        if (megabytes % 1024 == 0)
            std::snprintf(text, sizeof text, "%.0f GB", gigabytes);
        else
            std::snprintf(text, sizeof text, "%.1f GB", gigabytes);
    } else {
        std::snprintf(text, sizeof text, "%d MB", megabytes);
    }
    return text;
}

int32_t StopIndexFor(const std::vector<int32_t>& stops, int64_t value) {
    if (stops.empty()) return -1;
    if (value == 0) return static_cast<int32_t>(stops.size() - 1);
    int32_t best = -1;
    int64_t bestDistance = 0;
    for (size_t i = 0; i < stops.size(); ++i) {
        if (stops[i] == value) return static_cast<int32_t>(i);
        if (stops[i] == 0) continue;  // "No limit" is never the nearest
        int64_t distance = std::abs(static_cast<int64_t>(stops[i]) - value);
        if (best < 0 || distance < bestDistance) {
            best = static_cast<int32_t>(i);
            bestDistance = distance;
        }
    }
    return best;
}

std::vector<Setting> BuildPerformanceRows() {
    std::vector<Setting> rows;
    Setting preset = Row(RowKind::kChoice, "Performance profile", "Presets for the limits below", RowAction::kPreset);
    preset.options = {"Quiet", "Balanced", "Full speed"};
    rows.push_back(preset);
    rows.push_back(Row(RowKind::kHeading, "Limits", ""));
    rows.push_back(Slider("Processor (CPU)", "Maximum CPU usage for conversions", PercentStops(), true));
    rows.push_back(Slider("Graphics card (GPU)", "Maximum GPU usage for video conversions", PercentStops(), true));
    rows.push_back(Slider("Video memory", "Larger video jobs use the CPU instead", VideoMemoryStops(), false));
    rows.push_back(Slider("Memory (RAM)", "Maximum memory for all conversions", MemoryStops(), false));
    Setting parallel = Row(RowKind::kChoice, "Conversions at once", "Number of files converted at the same time",
                           RowAction::kLimit);
    parallel.options = {"1", "2", "3", "4"};
    rows.push_back(parallel);
    rows.push_back(Row(RowKind::kHeading, "Behavior", ""));
    rows.push_back(Row(RowKind::kSwitch, "Hardware video acceleration", "Use the GPU to decode and encode video",
                       RowAction::kLimit));
    rows.push_back(Row(RowKind::kSwitch, "Low priority", "Run conversions at low priority", RowAction::kLimit));
    return rows;
}

std::vector<Setting> BuildGeneralRows(bool updatesAvailable, bool showUninstall) {
    std::vector<Setting> rows;
    rows.push_back(Row(RowKind::kSwitch, "Shift-drag to convert", "Open the menu when you hold Shift while dragging a file",
                       RowAction::kDragGesture));
    rows.push_back(Row(RowKind::kSwitch, "Start with Windows", "Start Quillaven when you sign in", RowAction::kStartAtLogin));
    Setting updates = Row(RowKind::kSwitch, "Check for updates",
                          "Once a day, from the Quillaven website. Nothing about you is sent.", RowAction::kCheckForUpdates);
    Setting now = Row(RowKind::kButton, "Look for a new version", "Asks the website once, right now", RowAction::kCheckNow);
    now.options = {"Check now"};
    if (!updatesAvailable) {
        // This build names no website: say so instead of offering a check that cannot run.
        updates.description = "Not available: this build has no update website.";
        updates.enabled = false;
        now.description = "Not available in this build";
        now.enabled = false;
    }
    rows.push_back(updates);
    rows.push_back(now);
    if (showUninstall) {
        Setting uninstall = Row(RowKind::kButton, "Uninstall Quillaven", "Remove Quillaven from this computer",
                                RowAction::kUninstall);
        uninstall.options = {"Uninstall"};
        rows.push_back(uninstall);
    }
    return rows;
}

LimitSettings LimitsFromRows(const std::vector<Setting>& rows) {
    using R = PerformanceRows;
    LimitSettings limits;
    limits.CpuPercent = StopValue(rows[R::kCpu]);
    limits.GpuPercent = StopValue(rows[R::kGpu]);
    limits.VramMB = StopValue(rows[R::kVram]);
    limits.RamMB = StopValue(rows[R::kRam]);
    limits.ParallelJobs = std::clamp(rows[R::kParallel].selected, 0, 3) + 1;
    limits.GpuAcceleration = rows[R::kGpuAcceleration].selected == 1;
    limits.LowPriority = rows[R::kLowPriority].selected == 1;
    return limits;
}

void SelectLimits(std::vector<Setting>& rows, const LimitSettings& limits) {
    using R = PerformanceRows;
    rows[R::kCpu].selected = StopIndexFor(rows[R::kCpu].stops, limits.CpuPercent);
    rows[R::kGpu].selected = StopIndexFor(rows[R::kGpu].stops, limits.GpuPercent);
    rows[R::kVram].selected = StopIndexFor(rows[R::kVram].stops, limits.VramMB);
    rows[R::kRam].selected = StopIndexFor(rows[R::kRam].stops, limits.RamMB);
    rows[R::kParallel].selected = std::clamp(limits.ParallelJobs, 1, 4) - 1;
    rows[R::kGpuAcceleration].selected = limits.GpuAcceleration ? 1 : 0;
    rows[R::kLowPriority].selected = limits.LowPriority ? 1 : 0;
    rows[R::kPreset].selected = -1;
    LimitSettings shown = LimitsFromRows(rows);
    for (int preset = 0; preset < kPresetCount; ++preset)
        if (Preset(preset) == shown) rows[R::kPreset].selected = preset;
}
