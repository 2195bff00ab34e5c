// Confinement a worker applies to itself before it reads its request.
#pragma once

// Forbids starting programs and creating processes (threads stay allowed).
// Returns false when the kernel refused the filter.
bool InstallWorkerSandbox();

// Scheduling, I/O priority of every thread of this process: low is nice 19, the idle
// scheduling class and idle I/O; otherwise nice 10 and best-effort I/O at low priority.
// Raising priority again may need privileges the process lacks; failures are ignored.
void SetProcessPriority(bool low);
