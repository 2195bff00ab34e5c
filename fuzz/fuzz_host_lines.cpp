// Worker output as the host reads it: split into lines in pieces of any size, applied to a
// job's outcome, then finished with a status. First byte: number of files (1 to 5); second:
// piece size, exit code, RAM limit and cancel request; the rest: what the worker wrote.
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "job_lines.h"
#include "protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    size_t piece = data[1] % 61 == 0 ? 4096 : data[1] % 61;  // the host reads at most 4096 at a time
    Job job;
    job.files.assign(data[0] % 5 + 1, "/in/photo.png");
    job.cancelRequested = (data[1] & 0x20) != 0;
    RunOutcome outcome;
    outcome.total = job.files.size();
    HostLineSplitter splitter;
    std::string_view bytes(reinterpret_cast<const char*>(data) + 2, size - 2);
    for (size_t start = 0; start < bytes.size(); start += piece) {
        splitter.Feed(bytes.substr(start, piece), [&](std::string_view line) {
            ApplyWorkerLine(line, outcome, job);
            float progress = job.progress.load();
            if (std::isnan(progress) || std::abs(progress) > 1.0f || outcome.finished > outcome.total) std::abort();
        });
    }
    FinishJob(job, outcome, (data[1] & 0x40) ? 137 : 0, (data[1] & 0x80) != 0);
    if (job.state.load() < kJobSucceeded || job.status.empty()) std::abort();
    return 0;
}
