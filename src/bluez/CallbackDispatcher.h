// A thread that runs posted closures one after another, first in first out.
// The scanner posts its application callbacks here so that application code
// never runs on a bus worker and never while a library lock is held.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace Qelt::BLE::BlueZUtil {

class CallbackDispatcher {
public:
    using Closure = std::function<void()>;

    // Starts the thread.
    CallbackDispatcher();
    CallbackDispatcher(const CallbackDispatcher&) = delete;
    CallbackDispatcher& operator=(const CallbackDispatcher&) = delete;
    ~CallbackDispatcher();

    // Appends `closure`; after Stop it is dropped without running.
    void Post(Closure closure);

    // Stops accepting work, waits for the closure that is running, and drops
    // the ones still queued. Idempotent; must not run on the dispatcher's own
    // thread.
    void Stop();

    // True on the thread that runs this dispatcher's closures.
    bool IsDispatcherThread() const;

private:
    void Loop();

    bool running_ = true;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Closure> queue_;
    std::thread thread_;
};

}  // namespace Qelt::BLE::BlueZUtil
