// A program started by a test and ended by its own PID: when the object is
// destroyed, when the test fails, and (through the parent-death signal) when
// the test process itself dies.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace QeltTest {

class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    // Starts `argv[0]` with the given arguments. Standard output goes to
    // `stdoutFd` when it is not negative (a pipe's write end, say).
    void Start(const std::vector<std::string>& argv, int stdoutFd = -1);

    // Sends `signal` and waits up to `grace` for the process to end; then
    // kills it. Returns the wait status, or -1 when nothing was running.
    int Stop(int signal = 15, std::chrono::milliseconds grace = std::chrono::milliseconds(3000));

    bool Running() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }

private:
    pid_t pid_ = -1;
};

}  // namespace QeltTest
