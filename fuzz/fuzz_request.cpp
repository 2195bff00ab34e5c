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
    if (size > 0 && ::write(fd, data, size) != static_cast<ssize_t>(size)) std::abort();
    ::lseek(fd, 0, SEEK_SET);
    LineReader reader(fd);
    std::optional<WorkerRequest> request = ReadRequest(reader);
    if (request && (request->target.format < 1 || request->inputs.empty())) std::abort();
    while (std::optional<std::string> line = reader.ReadLine()) {  // what the control thread would see next
        std::optional<LimitSettings> limits = ParseLimits(*line);
        if (limits && (limits->CpuPercent < 5 || limits->RamMB < 0 || limits->ParallelJobs > 4)) std::abort();
    }
    ::close(fd);
    return 0;
}
