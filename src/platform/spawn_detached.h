// Starting a desktop program (the file manager's opener, the uninstaller) that lives
// on its own: a new session, no descriptor of ours but the standard three (input from
// /dev/null), default signal handling and an empty signal mask, reaped when it ends.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// argv[0] is looked up in PATH when it has no "/". The child's process id, or -1 when
// it could not be started.
pid_t SpawnDetached(const std::vector<std::string>& argv);
