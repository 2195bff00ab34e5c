// Persistent settings of the current user, read when needed and written at once.
// Missing or unreadable values give their defaults; failed writes are ignored.
#pragma once

#include <cstdint>
#include <string>

#include "convert/core/limits.h"

LimitSettings ReadLimits();
void WriteLimits(const LimitSettings& limits);
// 0 "Quiet", 1 "Balanced", 2 "Full speed"; any other number is "Balanced".
LimitSettings Preset(int number);

bool ReadDragGesture();
void WriteDragGesture(bool on);
bool ReadCheckForUpdates();
void WriteCheckForUpdates(bool on);
int64_t ReadLastUpdateCheck();
void WriteLastUpdateCheck(int64_t seconds);
bool IsFirstRun();
void MarkInitialized();

// Start at sign-in, through the desktop's autostart entry.
bool IsStartWithWindows();
void SetStartWithWindows(bool on);
void RefreshStartWithWindows();

// Deletes the file-manager actions that earlier installations registered.
void RemoveContextMenus();
// RemoveContextMenus, the autostart entry and every setting.
void RemoveAll();
