// Worker output as the host reads it: split into lines in pieces of any size, applied to
// a job's outcome, then finished with a status. First byte: number of files (1 to 5);
// second byte: piece size, exit code and RAM limit; the rest: what the worker wrote.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "job_lines.h"
#include "protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    size_t files = data[0] % 5 + 1;
    uint8_t mode = data[1];
    size_t piece = mode % 61 == 0 ? 4096 : mode % 61;  // the host reads at most 4096 at a time
    int exitCode = (mode & 0x40) ? 137 : 0;
    int32_t ramMB = (mode & 0x80) ? 4096 : 0;

    Job job;
    job.files.assign(files, "/in/photo.png");
    job.cancelRequested = (mode & 0x20) != 0;
    RunOutcome outcome;
    outcome.total = files;
    HostLineSplitter splitter;
    std::string_view bytes(reinterpret_cast<const char*>(data) + 2, size - 2);
    for (size_t start = 0; start < bytes.size(); start += piece) {
        splitter.Feed(bytes.substr(start, piece), [&](std::string_view line) {
            if (line.size() > kHostLineLimit + 4096 || line.find('\n') != std::string_view::npos) std::abort();
            ApplyWorkerLine(line, outcome, job);
            float progress = job.progress.load();
            if (std::isnan(progress) || progress < -1.0f || progress > 1.0f) std::abort();
            if (outcome.index >= outcome.total || outcome.succeeded > outcome.finished || outcome.finished > outcome.total)
                std::abort();
        });
    }
    FinishJob(job, outcome, exitCode, ramMB);
    int32_t state = job.state.load();
    if (state < kJobSucceeded || state > kJobCancelled || job.status.empty()) std::abort();
    if (state == kJobSucceeded && job.progress.load() != 1.0f) std::abort();
    if (job.outputs.size() > kMaxJobOutputs) std::abort();
    return 0;
}
