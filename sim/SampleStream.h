// The sample notifications of one amplifier while a client has them enabled:
// one notification every F / rate seconds on an absolute schedule (a late
// timer sends what is due, so the average rate is exact), the deterministic
// signal of SampleSignal.h, a counter channel carrying the notification
// counter, and the faults tests ask for: dropped notifications, a repeated
// or stepped-back counter, a payload of the wrong length, and a flood mode
// that sends as fast as the bus takes them.
#pragma once

#include <cstdint>
#include <string>

#include "GattProfile.h"
#include "PeerConfig.h"
#include "SimContext.h"
#include "StreamLayout.h"
#include "Timer.h"

namespace QeltSim {

class SampleStream {
public:
    // `config` is read at every notification, so layout changes take effect
    // at once. `key` names the amplifier in the counters.
    SampleStream(SimContext& context, const PeerConfig& config, const std::string& key);

    void Attach(Notifier* link) { link_ = link; }
    // Notifications enabled or disabled at the amplifier.
    void Start();
    void Stop();
    bool Running() const { return running_; }

    // Faults, each for the next notification(s).
    void DropNext(uint32_t count) { dropPending_ += count; }
    void RepeatCounter() { repeatPending_ = true; }
    void StepBackCounter(uint32_t steps) { stepBackPending_ = steps; }
    void SendWrongLength() { wrongLengthPending_ = true; }
    // Sends `count` notifications (0: no limit) or for `durationUsec` (0: no
    // limit) as fast as the bus takes them, then resumes the normal rate.
    void Flood(uint64_t count, uint64_t durationUsec);

    // Encodes notification number `index` with counter value `counter`.
    Bytes Encode(uint64_t index, int64_t counter, const StreamLayout& layout) const;

private:
    uint64_t PeriodNumerator() const;
    uint64_t DueTime(uint64_t index) const;
    void Tick();
    void FloodTick();
    // Builds and sends the next notification (or drops it as asked).
    void SendNext();

    SimContext& context_;
    const PeerConfig& config_;
    const std::string key_;
    Notifier* link_ = nullptr;
    Timer timer_;
    bool running_ = false;
    uint64_t startUsec_ = 0;
    uint64_t index_ = 0;         // notifications produced since the start
    uint64_t scheduleBase_ = 0;  // index at startUsec_
    int64_t counter_ = 0;
    uint32_t dropPending_ = 0;
    bool repeatPending_ = false;
    uint32_t stepBackPending_ = 0;
    bool wrongLengthPending_ = false;
    bool flooding_ = false;
    uint64_t floodLeft_ = 0;
    uint64_t floodUntil_ = 0;
    Bytes buffer_;
};

}  // namespace QeltSim
