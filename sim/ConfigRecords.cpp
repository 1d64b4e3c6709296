#include "ConfigRecords.h"

#include <cstring>

namespace QeltSim {

namespace {

void PutU16(Bytes& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value & 0xFF));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void PutF32(Bytes& out, float value) {
    uint32_t bits = 0;
    static_assert(sizeof bits == sizeof value);
    std::memcpy(&bits, &value, sizeof bits);
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<uint8_t>(bits >> (8 * i)));
    }
}

}  // namespace

Bytes EncodeAmplifierRecord(const AmplifierRecord& record) {
    Bytes out;
    PutU16(out, record.samplingRate);
    PutU16(out, record.channelCount);
    PutF32(out, record.auxValue);
    PutU16(out, record.payloadSize);
    PutU16(out, record.channelConfigCount);
    PutU16(out, record.payloadConfigCount);
    PutU16(out, record.filterConfigCount);
    return out;
}

Bytes EncodeChannelRecord(uint16_t channelId, uint8_t channelType, uint8_t channelNumber,
                          float scale) {
    Bytes out;
    PutU16(out, channelId);
    out.push_back(channelType);
    out.push_back(channelNumber);
    PutF32(out, scale);
    return out;
}

Bytes EncodePayloadRecord(uint16_t channelId, uint16_t sampleIndex) {
    Bytes out;
    PutU16(out, channelId);
    PutU16(out, sampleIndex);
    return out;
}

Bytes EncodeFilterRecord(uint16_t channelId, const std::array<uint8_t, 14>& data) {
    Bytes out;
    PutU16(out, channelId);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

AmplifierRecord LegacyAmplifierRecord(const AmplifierConfig& config, const StreamLayout& layout) {
    AmplifierRecord record;
    record.samplingRate = config.samplingRate;
    record.channelCount = static_cast<uint16_t>(config.channels.size());
    record.auxValue = 1.0f;
    record.payloadSize = static_cast<uint16_t>(layout.PayloadSize());
    record.channelConfigCount = static_cast<uint16_t>(config.channels.size());
    record.payloadConfigCount = static_cast<uint16_t>(layout.slots.size());
    record.filterConfigCount = static_cast<uint16_t>(config.filters.size());
    return record;
}

}  // namespace QeltSim
