// Where each sample sits in a sample notification.
//
// Legacy generation: frame after frame (index i = 0 .. F-1), inside a frame
// the channels in ascending id, a channel present in frame i when
// i < its samples per notification: F for ordinary channels, 1 for a counter
// channel (type 5), which so appears once, in frame 0. Each slot holds 3
// bytes. NUS generation: F frames of all C channels, frame after frame, in
// the configured sample width and byte order.
#pragma once

#include <cstdint>
#include <vector>

#include "PeerConfig.h"

namespace QeltSim {

struct SampleSlot {
    uint16_t channelId;    // 1-based
    uint16_t sampleIndex;  // frame within the notification
};

struct StreamLayout {
    std::vector<SampleSlot> slots;
    uint16_t framesPerNotification = 1;
    uint8_t bytesPerSample = 3;
    bool littleEndian = false;

    size_t PayloadSize() const { return slots.size() * bytesPerSample; }
};

StreamLayout LayoutOf(const AmplifierConfig& config);

}  // namespace QeltSim
