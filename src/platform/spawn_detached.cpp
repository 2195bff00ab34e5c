#include "platform/spawn_detached.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <system_error>
#include <thread>

extern char** environ;

pid_t SpawnDetached(const std::vector<std::string>& argv) {
    if (argv.empty() || argv[0].empty()) return -1;
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    if (posix_spawn_file_actions_init(&actions) != 0) return -1;
    if (posix_spawnattr_init(&attributes) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return -1;
    }
    // The host blocks and ignores signals for its own loop (signalfd, SIGPIPE); a child
    // must start with the defaults, or it could not be ended nor write to a closed pipe.
    sigset_t all;
    sigset_t none;
    sigfillset(&all);
    sigemptyset(&none);
    bool ready = posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0) == 0 &&
                 posix_spawn_file_actions_addclosefrom_np(&actions, 3) == 0 &&
                 posix_spawnattr_setsigdefault(&attributes, &all) == 0 &&
                 posix_spawnattr_setsigmask(&attributes, &none) == 0 &&
                 posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF |
                                                           POSIX_SPAWN_SETSIGMASK) == 0;
    pid_t pid = -1;
    if (ready && posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (pid > 0) {
        // Nobody else waits for it; a thread that only sleeps in waitpid costs nothing.
        try {
            std::thread([pid] {
                while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
                }
            }).detach();
        } catch (const std::system_error&) {
            // No thread to spare: the child is reaped with the host instead.
        }
    }
    return pid;
}
