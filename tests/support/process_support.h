// Runs a program with its standard input and output on pipes, as a host runs a worker.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace testing_support {

class ChildProcess {
public:
    // Starts `argv` with standard input and output (and error) on pipes.
    explicit ChildProcess(const std::vector<std::string>& argv);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Write(const std::string& bytes);
    void CloseInput();
    // Reads until the child closes its output (or `timeoutMs` passes); returns everything read.
    std::string ReadAll(int timeoutMs = 20000);
    // Reads until `text` has appeared in the output (or the time-out); returns the output so far.
    std::string ReadUntil(const std::string& text, int timeoutMs = 20000);
    // Waits for the exit; the exit code, or 128 + signal, or -1 on a time-out.
    int Wait(int timeoutMs = 20000);
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    std::string received_;
};

}  // namespace testing_support
