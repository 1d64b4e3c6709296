// Decoders of the configuration records and the battery level an amplifier
// sends. A record on the air has exactly the bytes of the record in memory, so
// a decoder copies the first bytes of the value into the record; bytes beyond
// the record are ignored. A value too short for its record throws (code 3)
// and leaves the record untouched.
#pragma once

#include <cstdint>
#include <string_view>

#include "qeltble.h"

namespace Qelt::BLE::Parser {

// Copies the 16-byte record, then rejects it (code 3) when channelCount
// differs from channelConfigCount, when payloadConfigCount is 0, or when
// channelConfigCount is 0, in that order. A rejected record still holds the
// copied bytes.
void AmplifierConfiguration(std::string_view value, QELTBLE_AMPLIFIER_CONFIGURATION& config);

void ChannelConfiguration(std::string_view value, QELTBLE_CHANNEL_CONFIGURATION& config);
void PayloadChannelConfiguration(std::string_view value,
                                 QELTBLE_PAYLOADCHANNEL_CONFIGURATION& config);
void FilterChannelConfiguration(std::string_view value,
                                QELTBLE_FILTERCHANNEL_CONFIGURATION& config);

// The first byte, in percent; not clamped. An empty value throws (code 3).
uint8_t BatteryLevel(std::string_view value);

}  // namespace Qelt::BLE::Parser
