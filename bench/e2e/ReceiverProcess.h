// One receiver of the end-to-end benchmark running as a child process:
// started with pipes on its standard input and output, asked for figures with
// the line protocol of ReceiverProtocol.h, and ended by its own PID: when it
// is stopped, when this object is destroyed, and (through the parent-death
// signal) when the benchmark itself dies.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "ReceiverProtocol.h"

namespace Qelt::BLE::Bench {

class ReceiverProcess {
public:
    // Starts `argv[0]` (searched in PATH) with the given arguments; its
    // standard error stays the benchmark's.
    explicit ReceiverProcess(const std::vector<std::string>& argv);
    ReceiverProcess(const ReceiverProcess&) = delete;
    ReceiverProcess& operator=(const ReceiverProcess&) = delete;
    ~ReceiverProcess();

    // Waits for the line saying that notifications arrive; throws
    // std::runtime_error when the receiver ends or says nothing in time.
    void WaitUntilReady(std::chrono::milliseconds limit);

    ReceiverReport Report();
    // The receiver notes the time at which it has received `count`
    // notifications in all.
    void SetTarget(uint64_t count);

    // Closes the receiver's standard input, which asks it to end, and waits
    // a while; then ends it by its PID.
    void Stop();

    pid_t Pid() const { return pid_; }

private:
    std::string Request(const std::string& line);
    std::string ReadLine(std::chrono::milliseconds limit);
    void CloseRequests();

    pid_t pid_ = -1;
    int requests_ = -1;  // the receiver's standard input
    int answers_ = -1;   // its standard output
    std::string buffered_;
};

}  // namespace Qelt::BLE::Bench
