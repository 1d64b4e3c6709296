// How long the bus worker may sleep in poll: until sd-bus's next deadline,
// but never longer than a second, so the worker looks at its state at least
// once per second even on a silent bus.
#pragma once

#include <cstdint>

namespace Qelt::BLE::BlueZUtil {

inline constexpr int kMaxPollTimeoutMs = 1000;
// What sd_bus_get_timeout reports when nothing is due.
inline constexpr uint64_t kNoDeadline = UINT64_MAX;

// `deadlineUs` and `nowUs` are times of the monotonic clock in microseconds.
constexpr int PollTimeoutMs(uint64_t deadlineUs, uint64_t nowUs) {
    if (deadlineUs == kNoDeadline) {
        return kMaxPollTimeoutMs;
    }
    if (deadlineUs <= nowUs) {
        return 0;
    }
    const uint64_t remainingMs = (deadlineUs - nowUs) / 1000;
    return remainingMs >= kMaxPollTimeoutMs ? kMaxPollTimeoutMs : static_cast<int>(remainingMs);
}

}  // namespace Qelt::BLE::BlueZUtil
