// The line protocol between a host and its worker processes. UTF-8, one message per
// line; fields separated by single spaces, the last field taking the rest of the line.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "convert/core/catalog.h"
#include "convert/core/limits.h"

// ---- worker side ----

inline constexpr size_t kLineReadChunk = 4096;          // bytes asked for per read
inline constexpr size_t kLineBufferLimit = 1048576;     // a host never sends a line this long
inline constexpr int kLineReadsPerLine = 257;           // 1 MiB / 4 KiB plus one: more reads means a flood
inline constexpr size_t kMaxRequestInputs = 100000;     // inputs in one request

// Reads lines from a descriptor (standard input in a worker), keeping what follows a line.
class LineReader {
public:
    explicit LineReader(int fd) : fd_(fd) {}
    // The next line without its line feed (and one carriage return before it), or nothing
    // at the end: a failed or empty read, an over-full buffer, or a line needing a 258th read.
    std::optional<std::string> ReadLine();

private:
    int fd_;
    std::string buffer_;
};

struct WorkerRequest {
    Target target;
    std::vector<std::string> inputs;
};

std::optional<WorkerRequest> ReadRequest(LineReader& reader);
// Settings from a "limits" line with every value clamped, or nothing for any other line.
std::optional<LimitSettings> ParseLimits(std::string_view line);
// Writes text plus a line feed to standard output in one write; failures are ignored.
void WriteLine(std::string_view text);
// Codec libraries print to standard output and error, which are a worker's protocol pipe:
// the lines move to a private descriptor and both standard streams go to /dev/null.
void MoveProtocolOffStandardStreams();

// ---- host side ----

std::string FormatLimitsLine(const LimitSettings& limits);  // with its line feed
// Header, one line per input, an empty line and the limits line.
std::string FormatRequest(const Target& target, const std::vector<std::string>& inputs, const LimitSettings& limits);

inline constexpr size_t kHostLineLimit = 65536;  // an unfinished worker line longer than this is dropped

// Splits a worker's output into lines as it arrives.
class HostLineSplitter {
public:
    // Hands every complete line (without line feed and one trailing carriage return) to `onLine`.
    void Feed(std::string_view bytes, const std::function<void(std::string_view)>& onLine);

private:
    std::string pending_;
};
