// One private connection to the system bus and the worker thread that owns
// it. Once the worker runs, no other thread touches the sd-bus object: every
// method call, property read, match registration and signal handler runs on
// the worker. Other threads hand work over with Execute, which waits until the
// worker has run it and rethrows what it threw.
#pragma once

#include <systemd/sd-bus.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace Qelt::BLE::BlueZUtil {

inline constexpr const char* kBusOpenFailedMessage =
    "Could not connect to the system D-Bus (is bluetoothd running?).";
inline constexpr const char* kWakeupFdFailedMessage =
    "Could not create the D-Bus event-loop wakeup descriptor.";
inline constexpr const char* kNotRunningMessage = "D-Bus connection is not running.";
inline constexpr const char* kLostMessage = "D-Bus connection lost.";
inline constexpr const char* kShutDownMessage = "D-Bus connection shut down.";
inline constexpr const char* kExecuteOnWorkerMessage =
    "D-Bus connection: Execute called from its own worker thread (from a task or a signal "
    "handler), which would wait for itself forever.";

class BlueZConnection {
public:
    using Work = std::function<void(sd_bus*)>;

    // Opens the system bus and starts the worker. Throws ApiException (code
    // 2) when the bus or the wakeup descriptor cannot be created.
    BlueZConnection();
    BlueZConnection(const BlueZConnection&) = delete;
    BlueZConnection& operator=(const BlueZConnection&) = delete;
    // Stops the worker after it has run everything already queued, fails
    // what is queued later, waits for callers still inside Execute to leave,
    // and closes the bus.
    ~BlueZConnection();

    // Runs `work` on the worker and waits for it; rethrows the exception
    // object it threw. Throws ApiException (code 3) when the connection is
    // stopping or lost, and when called on the worker itself.
    void Execute(const Work& work);

    // True once the bus has failed; a lost connection never recovers.
    bool IsLost() const { return lost_.load(); }

private:
    struct Task {
        Work work;
        bool done = false;
        std::exception_ptr error;
    };
    using TaskPtr = std::shared_ptr<Task>;

    void Loop();
    void DrainQueue();
    // Sleeps until the bus or the wakeup descriptor has something; false
    // when the bus has failed.
    bool WaitForEvents();
    void FailQueue(const char* message);
    void Wake();

    sd_bus* bus_ = nullptr;
    int wakeupFd_ = -1;
    std::thread worker_;
    std::atomic<bool> running_{false};
    std::atomic<bool> lost_{false};
    std::mutex mutex_;
    std::condition_variable completed_;
    std::deque<TaskPtr> queue_;
    // Threads inside Execute; destruction waits until they have left, so a
    // caller woken by the last completion never touches a freed object.
    int callers_ = 0;
    std::condition_variable callersLeft_;
};

}  // namespace Qelt::BLE::BlueZUtil
