#include "Timer.h"

#include <time.h>

#include <cstdio>
#include <stdexcept>
#include <utility>

namespace QeltSim {

uint64_t Timer::Now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

void Timer::Start(uint64_t delayUsec, std::function<void()> action) {
    StartAt(Now() + delayUsec, std::move(action));
}

void Timer::StartAt(uint64_t whenUsec, std::function<void()> action) {
    action_ = std::move(action);
    if (!source_) {
        sd_event_source* source = nullptr;
        // Accuracy of 1 µs: expiries are not coalesced, so sample streams
        // keep their rate.
        const int r =
            sd_event_add_time(event_, &source, CLOCK_MONOTONIC, whenUsec, 1, OnExpired, this);
        if (r < 0) {
            throw std::runtime_error("could not add a timer to the event loop");
        }
        source_.reset(source);
    } else {
        sd_event_source_set_time(source_.get(), whenUsec);
    }
    sd_event_source_set_enabled(source_.get(), SD_EVENT_ONESHOT);
    pending_ = true;
}

void Timer::Cancel() {
    if (source_) {
        sd_event_source_set_enabled(source_.get(), SD_EVENT_OFF);
    }
    pending_ = false;
    action_ = nullptr;
}

int Timer::OnExpired(sd_event_source* /*source*/, uint64_t /*usec*/, void* userdata) {
    auto* self = static_cast<Timer*>(userdata);
    // The action may re-arm or destroy this timer, so take it out first.
    std::function<void()> action = std::move(self->action_);
    self->pending_ = false;
    if (action) {
        try {
            action();
        } catch (const std::exception& error) {
            std::fprintf(stderr, "qeltble-sim: internal error: %s\n", error.what());
        }
    }
    return 0;
}

}  // namespace QeltSim
