// Small system services: random identifiers and the current time.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

// A fresh random (version 4) UUID in lower case without braces, or nothing when the
// system has no randomness to give.
std::optional<std::string> RandomUuid();
// 16 bytes laid out as a version-4, variant-1 UUID text.
std::string FormatUuidV4(const uint8_t (&bytes)[16]);

// The current time in UTC, or nothing when the clock cannot be read.
std::optional<std::tm> CurrentUtcTime();
