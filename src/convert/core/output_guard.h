// Deletes an output file on the way out of a converter unless the converter kept
// it, so a failure or cancellation never leaves a partial output beside the input.
#pragma once

#include <string>

#include <unistd.h>

struct OutputFileGuard {
    explicit OutputFileGuard(std::string outputPath) : path(std::move(outputPath)) {}
    ~OutputFileGuard() {
        if (!keep && !path.empty()) ::unlink(path.c_str());
    }
    OutputFileGuard(const OutputFileGuard&) = delete;
    OutputFileGuard& operator=(const OutputFileGuard&) = delete;

    std::string path;
    bool keep = false;
};
