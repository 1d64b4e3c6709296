// The amplifier's configuration records as a legacy amplifier sends them:
// little-endian, IEEE-754 single-precision floats.
//   amplifier (16 bytes): samplingRate u16, channelCount u16, auxValue f32,
//     payloadSize u16, channelConfigCount u16, payloadConfigCount u16,
//     filterConfigCount u16
//   channel (8 bytes): channelId u16, channelType u8, channelNumber u8, scale f32
//   payload channel (4 bytes): channelId u16, sampleIndex u16
//   filter channel (16 bytes): channelId u16, filterData 14 bytes
// What the amplifier serves is built from its model, then changed by the
// record faults it was given (see RecordFaults).
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "BusValue.h"
#include "PeerConfig.h"
#include "StreamLayout.h"

namespace QeltSim {

struct AmplifierRecord {
    uint16_t samplingRate = 0;
    uint16_t channelCount = 0;
    float auxValue = 0.0f;
    uint16_t payloadSize = 0;
    uint16_t channelConfigCount = 0;
    uint16_t payloadConfigCount = 0;
    uint16_t filterConfigCount = 0;
};

Bytes EncodeAmplifierRecord(const AmplifierRecord& record);
Bytes EncodeChannelRecord(uint16_t channelId, uint8_t channelType, uint8_t channelNumber,
                          float scale);
Bytes EncodePayloadRecord(uint16_t channelId, uint16_t sampleIndex);
Bytes EncodeFilterRecord(uint16_t channelId, const std::array<uint8_t, 14>& data);

enum class RecordKind { Channel, Payload, Filter };

// The amplifier record of a legacy amplifier's current model.
AmplifierRecord LegacyAmplifierRecord(const AmplifierConfig& config, const StreamLayout& layout);

// The value the amplifier configuration characteristic serves: the model's
// record with the reported counts of the faults, or the raw value a fault
// gives, cut to the length a fault gives.
Bytes AmplifierConfigValue(const AmplifierConfig& config);

// The records one burst of `kind` notifies, in order: channels by id, the
// payload layout slot by slot, filters as configured; with the faults'
// channel ids of payload slots, cut to their record length and stopped
// after their record limit.
std::vector<Bytes> BurstRecords(const AmplifierConfig& config, RecordKind kind);

}  // namespace QeltSim
