// Filling the device information record of an opened amplifier: the texts
// read from its Device Information service and what follows from its
// configuration (channel types, frame width, sampling rate).
#pragma once

#include <string>

#include "protocol/IProtocolHandler.h"
#include "qeltble.h"

namespace Qelt::BLE {

// The channel types reported when there are more channels than this.
inline constexpr size_t kMaxReportedChannels = QELTBLE_NUMBER_OF_CHANNELS_MAX - 2;

// Stores `value` as a text field: at most 254 bytes, ending at an embedded
// zero byte, always zero-terminated, the rest of the field zero.
void StoreText(char (&field)[QELTBLE_STRING_LENGTH_MAX], const std::string& value);

// Sets the channel types, the number of values per frame and the sampling
// rate. The channel types are those of channels 1 to n (n the number of
// records, at most 62), then 4 and 9 for the battery and validity columns; a
// channel id without a record among them gets a zero record in `channels`.
void FillDerivedInformation(QELTBLE_DEVICE_INFORMATION& info, ChannelMap& channels,
                            const QELTBLE_AMPLIFIER_CONFIGURATION& amplifier);

}  // namespace Qelt::BLE
