#include "bluez/CallbackDispatcher.h"

#include <utility>

namespace Qelt::BLE::BlueZUtil {

namespace {
// The dispatcher whose closures run on this thread, if any.
thread_local const CallbackDispatcher* dispatcherOfThisThread = nullptr;
}  // namespace

CallbackDispatcher::CallbackDispatcher() : thread_(&CallbackDispatcher::Loop, this) {}

CallbackDispatcher::~CallbackDispatcher() {
    Stop();
}

void CallbackDispatcher::Post(Closure closure) {
    {
        std::lock_guard lock(mutex_);
        if (!running_) {
            return;
        }
        queue_.push_back(std::move(closure));
    }
    wake_.notify_all();
}

void CallbackDispatcher::Stop() {
    {
        std::lock_guard lock(mutex_);
        running_ = false;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
    std::deque<Closure> dropped;
    {
        std::lock_guard lock(mutex_);
        dropped.swap(queue_);
    }
    // `dropped` is destroyed here, outside the lock, without running anything.
}

bool CallbackDispatcher::IsDispatcherThread() const {
    return dispatcherOfThisThread == this;
}

void CallbackDispatcher::Loop() {
    dispatcherOfThisThread = this;
    std::unique_lock lock(mutex_);
    while (true) {
        wake_.wait(lock, [&] { return !running_ || !queue_.empty(); });
        if (!running_) {
            break;
        }
        Closure closure = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        try {
            closure();
        } catch (...) {
            // A throwing callback neither stops the dispatcher nor is reported.
        }
        closure = nullptr;  // release what the closure holds before relocking
        lock.lock();
    }
    dispatcherOfThisThread = nullptr;
}

}  // namespace Qelt::BLE::BlueZUtil
