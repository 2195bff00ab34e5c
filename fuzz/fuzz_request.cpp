// The worker's side of a request: the header, the inputs and the control lines after
// them, read through the line reader from a descriptor holding the fuzzer's bytes.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

#include "protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int fd = ::memfd_create("fuzz-request", MFD_CLOEXEC);
    if (fd < 0) return 0;
    size_t done = 0;
    while (done < size) {
        ssize_t wrote = ::write(fd, data + done, size - done);
        if (wrote <= 0) break;
        done += static_cast<size_t>(wrote);
    }
    ::lseek(fd, 0, SEEK_SET);

    LineReader reader(fd);
    if (std::optional<WorkerRequest> request = ReadRequest(reader)) {
        if (request->target.format < 1 || request->target.format > kFormatCount) std::abort();
        if (request->inputs.empty() || request->inputs.size() > kMaxRequestInputs) std::abort();
        for (const std::string& input : request->inputs)
            if (input.empty() || input.find('\n') != std::string::npos) std::abort();
        if (request->target.suffix == "-") std::abort();
        // What the control thread would see next.
        while (std::optional<std::string> line = reader.ReadLine()) {
            if (line->size() > kLineBufferLimit) std::abort();
            if (std::optional<LimitSettings> limits = ParseLimits(*line)) {
                if (limits->CpuPercent < 5 || limits->CpuPercent > 100 || limits->GpuPercent < 5 ||
                    limits->GpuPercent > 100 || limits->VramMB < 0 || limits->VramMB > 1048576 || limits->RamMB < 0 ||
                    limits->RamMB > 4194304 || limits->ParallelJobs < 1 || limits->ParallelJobs > 4)
                    std::abort();
            }
        }
    }
    ::close(fd);
    return 0;
}
