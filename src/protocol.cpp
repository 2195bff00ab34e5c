#include "protocol.h"

#include <fcntl.h>

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <sstream>

#include "convert/core/text.h"

namespace {

void DropCarriageReturn(std::string& line) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
}

void AppendNumber(std::string& out, long long value) {
    char digits[24];
    auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, result.ptr);
}

}  // namespace

std::optional<std::string> LineReader::ReadLine() {
    int reads = 0;
    size_t searched = 0;
    for (;;) {
        size_t feed = buffer_.find('\n', searched);
        if (feed != std::string::npos) {
            std::string line = buffer_.substr(0, feed);
            buffer_.erase(0, feed + 1);
            DropCarriageReturn(line);
            return line;
        }
        searched = buffer_.size();
        char chunk[kLineReadChunk];
        ssize_t got;
        do {
            got = ::read(fd_, chunk, sizeof chunk);
        } while (got < 0 && errno == EINTR);
        if (got <= 0) return std::nullopt;
        if (++reads > kLineReadsPerLine) return std::nullopt;  // this read's data is not used
        buffer_.append(chunk, static_cast<size_t>(got));
        if (buffer_.size() > kLineBufferLimit) return std::nullopt;
    }
}

std::optional<WorkerRequest> ReadRequest(LineReader& reader) {
    std::optional<std::string> header = reader.ReadLine();
    if (!header) return std::nullopt;
    std::istringstream words(*header);
    words.imbue(std::locale::classic());
    std::string token, suffix;
    int32_t option = 0;
    words >> token >> option >> suffix;

    WorkerRequest request;
    request.target.format = FormatFromName(token);
    if (request.target.format == 0) return std::nullopt;
    request.target.option = option;
    if (suffix != "-") request.target.suffix = suffix;

    while (request.inputs.size() < kMaxRequestInputs) {
        std::optional<std::string> line = reader.ReadLine();
        if (!line || line->empty()) break;
        request.inputs.push_back(std::move(*line));
    }
    if (request.inputs.empty()) return std::nullopt;
    return request;
}

std::optional<LimitSettings> ParseLimits(std::string_view line) {
    std::istringstream words{std::string(line)};
    words.imbue(std::locale::classic());
    std::string keyword;
    words >> keyword;
    if (keyword != "limits") return std::nullopt;
    // The settings are 32-bit: a value that does not fit fails its extraction like any
    // other malformed value, and the whole line is ignored.
    int32_t values[7];
    for (int32_t& value : values)
        if (!(words >> value)) return std::nullopt;
    auto clamp = [](int32_t value, int32_t low, int32_t high) { return value < low ? low : value > high ? high : value; };
    LimitSettings limits;
    limits.CpuPercent = clamp(values[0], 5, 100);
    limits.GpuPercent = clamp(values[1], 5, 100);
    limits.VramMB = clamp(values[2], 0, 1048576);
    limits.RamMB = clamp(values[3], 0, 4194304);
    limits.ParallelJobs = clamp(values[4], 1, 4);
    limits.GpuAcceleration = values[5] != 0;
    limits.LowPriority = values[6] != 0;
    return limits;
}

namespace {
int g_protocolOutput = STDOUT_FILENO;
}

void WriteLine(std::string_view text) {
    std::string line(text);
    line.push_back('\n');
    ssize_t wrote;
    do {
        wrote = ::write(g_protocolOutput, line.data(), line.size());
    } while (wrote < 0 && errno == EINTR);
}

void MoveProtocolOffStandardStreams() {
    int output = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (output < 0) return;  // the lines keep going to standard output, as before
    int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null < 0 || ::dup2(null, STDOUT_FILENO) < 0 || ::dup2(null, STDERR_FILENO) < 0) {
        if (null >= 0) ::close(null);
        ::close(output);
        return;
    }
    ::close(null);
    g_protocolOutput = output;
}

std::string FormatLimitsLine(const LimitSettings& limits) {
    std::string line = "limits";
    for (long long value : {limits.CpuPercent, limits.GpuPercent, limits.VramMB, limits.RamMB, limits.ParallelJobs}) {
        line.push_back(' ');
        AppendNumber(line, value);
    }
    line.append(limits.GpuAcceleration ? " 1" : " 0");
    line.append(limits.LowPriority ? " 1" : " 0");
    line.push_back('\n');
    return line;
}

std::string FormatRequest(const Target& target, const std::vector<std::string>& inputs, const LimitSettings& limits) {
    std::string request(FormatName(target.format));
    request.push_back(' ');
    AppendNumber(request, target.option);
    request.push_back(' ');
    request.append(target.suffix.empty() ? std::string("-") : target.suffix);
    request.push_back('\n');
    for (const std::string& input : inputs) {
        request.append(input);
        request.push_back('\n');
    }
    request.push_back('\n');
    request.append(FormatLimitsLine(limits));
    return request;
}

void HostLineSplitter::Feed(std::string_view bytes, const std::function<void(std::string_view)>& onLine) {
    pending_.append(bytes);
    size_t start = 0;
    for (size_t feed = pending_.find('\n'); feed != std::string::npos; feed = pending_.find('\n', start)) {
        std::string_view line(pending_.data() + start, feed - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        onLine(line);
        start = feed + 1;
    }
    pending_.erase(0, start);
    if (pending_.size() > kHostLineLimit) pending_.clear();
}
