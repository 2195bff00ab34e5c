// A host that runs one job and then waits to be killed: `runner_host <worker> <script>`.
// Tests kill it to see that its workers and their control group do not outlive it.
#include <unistd.h>

#include "job_runner.h"

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    LimitSettings limits;
    limits.RamMB = 0;
    limits.CpuPercent = 100;
    JobRunner runner({}, limits, argv[1]);
    runner.Enqueue(MakeJob({argv[2]}, Target{kPng, 0, ""}));
    for (;;) ::pause();
}
