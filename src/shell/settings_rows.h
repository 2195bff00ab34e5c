// The rows of the settings window as data: what each row shows, the stops of the
// sliders, and the mapping between the rows' selections and the stored limits.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "convert/core/limits.h"

enum class RowKind { kHeading, kChoice, kSlider, kSwitch, kButton };

enum class RowAction {
    kNone,
    kPreset,         // the performance profile
    kLimit,          // any of the limit rows
    kDragGesture,
    kStartAtLogin,
    kCheckForUpdates,
    kCheckNow,
    kUninstall,
};

struct Setting {
    RowKind kind = RowKind::kHeading;
    std::string label;
    std::string description;
    std::vector<std::string> options;  // choice options, slider stop labels, the button's text
    std::vector<int32_t> stops;        // slider values
    int32_t selected = -1;             // option, stop or switch state (0 off, 1 on); -1 none
    RowAction action = RowAction::kNone;
    bool enabled = true;
};

// Where the limit rows stand on the performance page.
struct PerformanceRows {
    static constexpr size_t kPreset = 0, kCpu = 2, kGpu = 3, kVram = 4, kRam = 5, kParallel = 6, kGpuAcceleration = 8,
                            kLowPriority = 9, kCount = 10;
};
struct GeneralRows {
    static constexpr size_t kDragGesture = 0, kStartAtLogin = 1, kCheckForUpdates = 2, kCheckNow = 3, kUninstall = 4;
};

std::vector<int32_t> PercentStops();  // 10, 15, … 100
std::vector<int32_t> VideoMemoryStops();
std::vector<int32_t> MemoryStops();
// "No limit" for 0, whole or one-decimal GB from 1024 MiB up, else "<n> MB".
std::string MemoryLabel(int32_t megabytes);

// The stop equal to the value; else the nearest stop that is not "No limit" (0), the first
// on a tie; a value of 0 selects the last stop.
int32_t StopIndexFor(const std::vector<int32_t>& stops, int64_t value);

std::vector<Setting> BuildPerformanceRows();
// `updatesAvailable`: a website is configured; `showUninstall`: the uninstall row exists.
std::vector<Setting> BuildGeneralRows(bool updatesAvailable, bool showUninstall);

// The limits the performance rows select.
LimitSettings LimitsFromRows(const std::vector<Setting>& rows);
// Sets the rows from stored limits, then selects the preset whose values they now equal
// (or none).
void SelectLimits(std::vector<Setting>& rows, const LimitSettings& limits);
