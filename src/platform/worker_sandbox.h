// Confinement a worker applies to itself before it reads its request.
#pragma once

// Forbids starting programs and creating processes (threads stay allowed), and what would
// reach the host or loosen the worker's limits: tracing, another process's memory, pidfds,
// raising resource limits, changing the personality, the keyrings. A system call of another
// architecture (int 0x80, x32) kills the whole process. Also drops the capability to trace,
// so a worker run by root cannot open a non-dumpable host's memory. Returns false when the
// kernel refused the filter.
bool InstallWorkerSandbox();

// Makes the calling process (a host of workers) non-dumpable: another process of the same
// user can then neither trace it nor open its memory in /proc.
void ProtectHostFromWorkers();

// Scheduling, I/O priority of every thread of this process: low is nice 19, the idle
// scheduling class and idle I/O; otherwise nice 10 and best-effort I/O at low priority.
// Raising priority again may need privileges the process lacks; failures are ignored.
void SetProcessPriority(bool low);
