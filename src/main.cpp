// Process entry: a worker, a command-line conversion, a clean-up run, or the host.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "settings.h"
#include "worker.h"

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--worker") == 0) {
        int code = worker::WorkerMain();
        // The control thread may still be blocked reading the host's pipe; leave without
        // running static destructors under its feet.
        std::fflush(stdout);
        ::_exit(code);
    }

    bool uninstall = false;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--uninstall") == 0) uninstall = true;
    if (uninstall) {
        RemoveAll();
        return 0;
    }

    // The resident host (tray icon, Shift-drag menu) is not part of this build yet.
    std::fputs("usage: Quillaven --convert <file> <format> [option]\n", stderr);
    return 2;
}
