#include "ConfigRecords.h"

#include <cstring>

namespace QeltSim {

namespace {

void CutTo(Bytes& value, int32_t length) {
    if (length >= 0 && value.size() > static_cast<size_t>(length)) {
        value.resize(static_cast<size_t>(length));
    }
}

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

Bytes AmplifierConfigValue(const AmplifierConfig& config) {
    const RecordFaults& faults = config.faults.records;
    Bytes value;
    if (faults.amplifierValue) {
        value = *faults.amplifierValue;
    } else {
        AmplifierRecord record = LegacyAmplifierRecord(config, LayoutOf(config));
        record.channelCount = faults.channelCount.value_or(record.channelCount);
        record.channelConfigCount = faults.channelConfigCount.value_or(record.channelConfigCount);
        record.payloadConfigCount = faults.payloadConfigCount.value_or(record.payloadConfigCount);
        record.filterConfigCount = faults.filterConfigCount.value_or(record.filterConfigCount);
        value = EncodeAmplifierRecord(record);
    }
    CutTo(value, faults.amplifierLength);
    return value;
}

std::vector<Bytes> BurstRecords(const AmplifierConfig& config, RecordKind kind) {
    const RecordFaults& faults = config.faults.records;
    std::vector<Bytes> records;
    int32_t length = -1;
    int32_t limit = -1;
    switch (kind) {
        case RecordKind::Channel:
            for (size_t i = 0; i < config.channels.size(); ++i) {
                const auto id = static_cast<uint16_t>(i + 1);
                records.push_back(EncodeChannelRecord(id, config.channels[i].type,
                                                      static_cast<uint8_t>(id),
                                                      config.channels[i].scale));
            }
            length = faults.channelLength;
            limit = faults.channelLimit;
            break;
        case RecordKind::Payload: {
            const StreamLayout layout = LayoutOf(config);
            for (size_t slot = 0; slot < layout.slots.size(); ++slot) {
                const auto named = faults.payloadChannels.find(static_cast<uint16_t>(slot));
                const uint16_t channelId = named != faults.payloadChannels.end()
                                               ? named->second
                                               : layout.slots[slot].channelId;
                records.push_back(EncodePayloadRecord(channelId, layout.slots[slot].sampleIndex));
            }
            length = faults.payloadLength;
            limit = faults.payloadLimit;
            break;
        }
        case RecordKind::Filter:
            for (const FilterConfig& filter : config.filters) {
                records.push_back(EncodeFilterRecord(filter.channelId, filter.data));
            }
            length = faults.filterLength;
            limit = faults.filterLimit;
            break;
    }
    if (limit < 0) {
        limit = faults.recordLimit;
    }
    if (limit >= 0 && records.size() > static_cast<size_t>(limit)) {
        records.resize(static_cast<size_t>(limit));
    }
    for (Bytes& record : records) {
        CutTo(record, length);
    }
    return records;
}

}  // namespace QeltSim
