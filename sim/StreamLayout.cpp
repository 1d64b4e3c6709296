#include "StreamLayout.h"

namespace QeltSim {

StreamLayout LayoutOf(const AmplifierConfig& config) {
    StreamLayout layout;
    layout.framesPerNotification = config.framesPerNotification;
    const bool legacy = config.generation == Generation::Legacy;
    layout.bytesPerSample = legacy ? 3 : config.nusBytesPerSample;
    layout.littleEndian = !legacy && config.nusLittleEndian;
    for (uint16_t frame = 0; frame < config.framesPerNotification; ++frame) {
        for (size_t c = 0; c < config.channels.size(); ++c) {
            const bool counter = legacy && config.channels[c].type == 5;
            if (counter && frame > 0) {
                continue;
            }
            layout.slots.push_back(SampleSlot{static_cast<uint16_t>(c + 1), frame});
        }
    }
    return layout;
}

}  // namespace QeltSim
