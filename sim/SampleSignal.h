// The deterministic signal of the simulated amplifiers. The raw value of
// channel c (1-based id) at sample index s (frames since the stream started,
// counting from 0) is
//
//   raw(c, s) = ((1000 * c + (2 * c + 1) * s) mod 65536) - 32768
//
// a saw tooth per channel with its own offset and slope, in -32768..32767.
// A counter channel (type 5) carries the notification counter instead.
#pragma once

#include <cstdint>

namespace QeltSim {

inline int32_t SignalValue(uint16_t channelId, uint64_t sampleIndex) {
    const uint64_t c = channelId;
    const uint64_t wrapped = (1000 * c + (2 * c + 1) * sampleIndex) % 65536;
    return static_cast<int32_t>(wrapped) - 32768;
}

}  // namespace QeltSim
