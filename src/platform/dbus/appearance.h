// The desktop's colour preferences from the settings portal
// (org.freedesktop.portal.Settings, namespace "org.freedesktop.appearance"): the
// dark or light colour scheme and the accent colour, kept current by SettingChanged.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class SessionBus;

class Appearance {
public:
    // Reads both values; a portal that does not answer within a fraction of a second
    // counts as absent (its values are read when it appears later). `bus` may be null.
    explicit Appearance(SessionBus* bus);
    ~Appearance();
    Appearance(const Appearance&) = delete;
    Appearance& operator=(const Appearance&) = delete;

    // "color-scheme" 1 (prefer dark) gives true, 2 (prefer light) false; nothing without
    // a portal, without the value, or for 0 (no preference), where the caller's own
    // fallbacks know more.
    std::optional<bool> Dark() const;
    // "accent-color" as 0xRRGGBB; nothing without one, or when a channel lies outside 0..1.
    std::optional<uint32_t> AccentRgb() const;

    // Either value changed (a SettingChanged signal, or a portal that answered late).
    std::function<void()> onChanged;

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};
