// The program's log: warnings a user or administrator may want to read later (a settings
// file that cannot be saved, limits that cannot be enforced). They go to syslog, never to
// standard output or error, which are a worker's protocol pipe.
#pragma once

#include <string_view>

void LogWarning(std::string_view text);

// Where warnings go instead of syslog (nothing: back to syslog); returns the previous sink.
// For tests that check what was logged.
using LogSink = void (*)(std::string_view text);
LogSink SetLogSink(LogSink sink);
