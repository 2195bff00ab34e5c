#include "job_lines.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "convert/core/paths.h"
#include "convert/core/text.h"

namespace {

constexpr size_t kMaxOutputPathBytes = 4096;  // PATH_MAX: the longest path the system accepts

std::string_view SkipSpaces(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    return text;
}

// An unsigned decimal prefix; no digits give 0 and a number too large for size_t gives
// its maximum (it is capped to the last file anyway).
size_t ParseIndex(std::string_view text) {
    text = SkipSpaces(text);
    size_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    (void)end;
    if (error == std::errc::result_out_of_range) return std::numeric_limits<size_t>::max();
    return error == std::errc() ? value : 0;
}

// A decimal fraction (locale-independent); text that is no number gives 0.
double ParseFraction(std::string_view text) {
    text = SkipSpaces(text);
    double value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    (void)end;
    if (error == std::errc::result_out_of_range) return 0;
    return error == std::errc() ? value : 0;
}

}  // namespace

void ApplyWorkerLine(std::string_view line, RunOutcome& outcome, Job& job) {
    size_t space = line.find(' ');
    std::string_view keyword = line.substr(0, space);
    std::string_view argument = space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
    size_t total = outcome.total;

    if (keyword == "file") {
        outcome.index = std::min(ParseIndex(argument), total == 0 ? 0 : total - 1);
    } else if (keyword == "progress") {
        if (total == 0) return;
        double x = ParseFraction(argument);
        float progress;
        // NaN is no measure of anything: treated like a negative value.
        if (x >= 0)
            progress = static_cast<float>((static_cast<double>(outcome.index) + std::min(x, 1.0)) / static_cast<double>(total));
        else if (total != 1)
            progress = static_cast<float>(static_cast<double>(outcome.index) / static_cast<double>(total));
        else
            progress = -1.0f;
        job.progress.store(progress);
    } else if (keyword == "output") {
        // A longer "path" cannot name a file; keeping such lines would let a runaway
        // worker fill the host's memory a million times over.
        if (job.outputs.size() < kMaxJobOutputs && argument.size() <= kMaxOutputPathBytes) job.outputs.emplace_back(argument);
    } else if (keyword == "done") {
        // A worker repeating itself must not report more files than the job has.
        if (outcome.finished < total) {
            ++outcome.succeeded;
            ++outcome.finished;
        }
    } else if (keyword == "error") {
        size_t messageStart = argument.find(' ');
        outcome.lastError = messageStart == std::string_view::npos ? std::string() : std::string(argument.substr(messageStart + 1));
        if (outcome.finished < total) ++outcome.finished;
    } else if (keyword == "cancelled") {
        outcome.cancelled = true;
    }
}

void FinishJob(Job& job, RunOutcome& outcome, int exitCode, bool memoryKill) {
    bool cancelRequested = job.cancelRequested.load();
    if (!outcome.cancelled && (!cancelRequested || outcome.succeeded >= outcome.total)) {
        if (outcome.succeeded > 0) {
            if (outcome.total == 1 && !job.outputs.empty())
                job.status = "Saved as " + FileNameOf(job.outputs.front());
            else if (outcome.succeeded == outcome.total)
                job.status = FormatText("%zu files converted", outcome.total);
            else
                job.status = FormatText("%zu of %zu converted", outcome.succeeded, outcome.total);
            job.progress.store(1.0f);
            job.state.store(kJobSucceeded);
        } else {
            // The RAM limit is named only when it is known to have struck: a crash is a crash,
            // whatever limit happens to be set.
            if (outcome.finished < outcome.total && exitCode != 0)
                outcome.lastError = memoryKill ? "Stopped: the RAM limit in Settings was exceeded" : "The conversion stopped unexpectedly";
            job.status = outcome.lastError.empty() ? std::string("Conversion failed") : outcome.lastError;
            job.state.store(kJobFailed);
        }
    } else {
        job.status = "Cancelled";
        job.state.store(kJobCancelled);
    }
}
