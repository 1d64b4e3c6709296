#include "bluez/BlueZConnection.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "api/ApiException.h"
#include "bluez/PollTimeout.h"
#include "qeltble.h"

namespace Qelt::BLE::BlueZUtil {

namespace {

// The connection whose worker runs on this thread, if any.
thread_local const BlueZConnection* workerOfThisThread = nullptr;

uint64_t MonotonicNowUs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1'000'000u +
           static_cast<uint64_t>(now.tv_nsec) / 1000u;
}

// Runs a task's closure; returns what it threw.
std::exception_ptr Run(const BlueZConnection::Work& work, sd_bus* bus) {
    try {
        work(bus);
    } catch (...) {
        return std::current_exception();
    }
    return nullptr;
}

int NextPollTimeoutMs(sd_bus* bus) {
    uint64_t deadline = kNoDeadline;
    if (sd_bus_get_timeout(bus, &deadline) < 0) {
        deadline = kNoDeadline;
    }
    return PollTimeoutMs(deadline, MonotonicNowUs());
}

}  // namespace

BlueZConnection::BlueZConnection() {
    if (sd_bus_open_system(&bus_) < 0 || bus_ == nullptr) {
        bus_ = nullptr;
        throw ApiException(kBusOpenFailedMessage, QELTBLE_ERROR_BLUETOOTH_UNAVAILABLE);
    }
    wakeupFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeupFd_ < 0) {
        bus_ = sd_bus_flush_close_unref(bus_);
        throw ApiException(kWakeupFdFailedMessage, QELTBLE_ERROR_BLUETOOTH_UNAVAILABLE);
    }
    running_ = true;
    try {
        worker_ = std::thread(&BlueZConnection::Loop, this);
    } catch (...) {
        running_ = false;
        close(wakeupFd_);
        bus_ = sd_bus_flush_close_unref(bus_);
        throw;
    }
}

BlueZConnection::~BlueZConnection() {
    running_ = false;
    Wake();
    if (worker_.joinable()) {
        worker_.join();
    }
    // Only tasks appended after the worker had already exited are left.
    FailQueue(kShutDownMessage);
    {
        std::unique_lock lock(mutex_);
        callersLeft_.wait(lock, [&] { return callers_ == 0; });
    }
    if (wakeupFd_ >= 0) {
        close(wakeupFd_);
    }
    if (bus_ != nullptr) {
        sd_bus_flush_close_unref(bus_);
    }
}

void BlueZConnection::Execute(const Work& work) {
    if (workerOfThisThread == this) {
        throw ApiException(kExecuteOnWorkerMessage, QELTBLE_ERROR_COMMUNICATION);
    }
    if (!running_ || lost_) {
        throw ApiException(kNotRunningMessage, QELTBLE_ERROR_COMMUNICATION);
    }
    auto task = std::make_shared<Task>();
    task->work = work;
    std::unique_lock lock(mutex_);
    // Checked under the lock so that nothing is appended after the worker
    // (or the destructor) has failed the queue.
    if (lost_) {
        throw ApiException(kLostMessage, QELTBLE_ERROR_COMMUNICATION);
    }
    if (!running_) {
        throw ApiException(kNotRunningMessage, QELTBLE_ERROR_COMMUNICATION);
    }
    queue_.push_back(task);
    ++callers_;
    lock.unlock();
    Wake();
    lock.lock();
    completed_.wait(lock, [&] { return task->done; });
    if (--callers_ == 0) {
        callersLeft_.notify_all();  // under the lock: the destructor may be waiting
    }
    lock.unlock();
    if (task->error) {
        std::rethrow_exception(task->error);
    }
}

void BlueZConnection::Loop() {
    workerOfThisThread = this;
    while (true) {
        DrainQueue();
        if (!running_) {
            break;
        }
        const int processed = sd_bus_process(bus_, nullptr);
        if (processed < 0) {
            lost_ = true;
            break;
        }
        if (processed > 0) {
            continue;  // more may be pending: no sleep
        }
        if (!WaitForEvents()) {
            lost_ = true;
            break;
        }
    }
    if (lost_) {
        FailQueue(kLostMessage);
    }
    workerOfThisThread = nullptr;
}

void BlueZConnection::DrainQueue() {
    std::unique_lock lock(mutex_);
    while (!queue_.empty()) {
        TaskPtr task = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        std::exception_ptr error = Run(task->work, bus_);
        lock.lock();
        task->error = std::move(error);
        task->done = true;
        // The caller now holds the only reference, so the task, its closure
        // and its exception are destroyed on the caller's thread.
        task.reset();
        completed_.notify_all();
    }
}

bool BlueZConnection::WaitForEvents() {
    const int busFd = sd_bus_get_fd(bus_);
    const int busEvents = sd_bus_get_events(bus_);
    if (busFd < 0 || busEvents < 0) {
        return false;
    }
    pollfd fds[2] = {{busFd, static_cast<short>(busEvents), 0}, {wakeupFd_, POLLIN, 0}};
    const int ready = poll(fds, 2, NextPollTimeoutMs(bus_));
    if (ready < 0) {
        return errno == EINTR;
    }
    if ((fds[1].revents & POLLIN) != 0) {
        uint64_t counter = 0;
        const ssize_t ignored = read(wakeupFd_, &counter, sizeof counter);
        (void)ignored;
    }
    return true;
}

void BlueZConnection::FailQueue(const char* message) {
    std::lock_guard lock(mutex_);
    if (queue_.empty()) {
        return;
    }
    for (const TaskPtr& task : queue_) {
        task->error = std::make_exception_ptr(ApiException(message, QELTBLE_ERROR_COMMUNICATION));
        task->done = true;
    }
    queue_.clear();  // the callers hold the last references
    completed_.notify_all();
}

void BlueZConnection::Wake() {
    if (wakeupFd_ < 0) {
        return;
    }
    const uint64_t one = 1;
    const ssize_t ignored = write(wakeupFd_, &one, sizeof one);
    (void)ignored;
}

}  // namespace Qelt::BLE::BlueZUtil
