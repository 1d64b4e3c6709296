// A one-shot or repeating timer on the simulator's event loop. Arming it again
// replaces the pending expiry; destroying it cancels it.
#pragma once

#include <cstdint>
#include <functional>

#include "SdBus.h"

namespace QeltSim {

class Timer {
public:
    explicit Timer(sd_event* event) : event_(event) {}
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    // Runs `action` once, `delayUsec` microseconds from now.
    void Start(uint64_t delayUsec, std::function<void()> action);
    // Runs `action` at the absolute CLOCK_MONOTONIC time `whenUsec`.
    void StartAt(uint64_t whenUsec, std::function<void()> action);
    void Cancel();
    bool Pending() const { return pending_; }

    static uint64_t Now();

private:
    static int OnExpired(sd_event_source* source, uint64_t usec, void* userdata);

    sd_event* event_;
    // One event source for the timer's life, enabled while an expiry is
    // pending; it is never freed inside its own dispatch.
    EventSourcePtr source_;
    std::function<void()> action_;
    bool pending_ = false;
};

}  // namespace QeltSim
