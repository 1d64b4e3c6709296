#include "StreamLayout.h"

namespace QeltSim {

StreamLayout LayoutOf(const AmplifierSpec& spec) {
    StreamLayout layout;
    layout.framesPerNotification = spec.framesPerNotification;
    const bool legacy = spec.generation == Generation::Legacy;
    layout.bytesPerSample = legacy ? 3 : spec.nusBytesPerSample;
    layout.littleEndian = !legacy && spec.nusLittleEndian;
    for (uint16_t frame = 0; frame < spec.framesPerNotification; ++frame) {
        for (size_t c = 0; c < spec.channels.size(); ++c) {
            const bool counter = legacy && spec.channels[c].type == 5;
            if (counter && frame > 0) {
                continue;
            }
            layout.slots.push_back(SampleSlot{static_cast<uint16_t>(c + 1), frame});
        }
    }
    return layout;
}

}  // namespace QeltSim
