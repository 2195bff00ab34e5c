// Programs the host starts for the user (the uninstaller, the file manager): a new
// session, no descriptors of ours, the user's environment, outside the workers' limits.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// The child's process id, or -1 when it could not be started. The caller reaps it.
pid_t StartDetached(const std::vector<std::string>& argv);
