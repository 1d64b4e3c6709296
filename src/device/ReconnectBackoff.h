// The pauses between reconnection attempts: the first pause, then twice the
// previous one after every failed attempt, never more than the last pause.
// With the product's timings: 500, 1000, 2000, 4000, 5000, 5000, ... ms.
#pragma once

#include <algorithm>
#include <chrono>

namespace Qelt::BLE {

class ReconnectBackoff {
public:
    using Duration = std::chrono::milliseconds;

    ReconnectBackoff(Duration first, Duration last) : first_(first), last_(last), pause_(first) {}

    // The pause to wait after the attempt that just failed.
    Duration Pause() const { return pause_; }
    // The next failure waits twice as long, up to the last pause.
    void Grow() { pause_ = std::min(pause_ * 2, std::max(last_, first_)); }
    // Back to the first pause, for the next disconnection.
    void Reset() { pause_ = first_; }

private:
    Duration first_;
    Duration last_;
    Duration pause_;
};

}  // namespace Qelt::BLE
