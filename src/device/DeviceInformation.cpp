#include "device/DeviceInformation.h"

#include <algorithm>
#include <cstring>

namespace Qelt::BLE {

void StoreText(char (&field)[QELTBLE_STRING_LENGTH_MAX], const std::string& value) {
    const size_t length = std::min({value.find('\0'), value.size(), sizeof field - 1});
    std::memset(field, 0, sizeof field);
    std::memcpy(field, value.data(), length);
}

void FillDerivedInformation(QELTBLE_DEVICE_INFORMATION& info, ChannelMap& channels,
                            const QELTBLE_AMPLIFIER_CONFIGURATION& amplifier) {
    std::memset(info.channelTypes, 0, sizeof info.channelTypes);
    info.samplingRate = amplifier.samplingRate;
    info.numberOfAcquiredChannels = static_cast<uint16_t>(amplifier.channelConfigCount + 2);
    // The types describe the columns of a delivered frame: channels 1 to
    // channelConfigCount, then battery and validity. Records an inconsistent
    // amplifier sent beyond its own count are not columns.
    const size_t reported =
        std::min(static_cast<size_t>(amplifier.channelConfigCount), kMaxReportedChannels);
    for (size_t id = 1; id <= reported; ++id) {
        info.channelTypes[id - 1] = channels[static_cast<uint16_t>(id)].channelType;
    }
    info.channelTypes[reported] = QELTBLE_CHANNEL_TYPE_BATTERY;
    info.channelTypes[reported + 1] = QELTBLE_CHANNEL_TYPE_VALIDITY;
}

}  // namespace Qelt::BLE
