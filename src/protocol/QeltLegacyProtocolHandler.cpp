#include "protocol/QeltLegacyProtocolHandler.h"

#include <cstddef>
#include <iterator>

#include "api/ApiException.h"
#include "protocol/Parser.h"
#include "protocol/RawSample.h"
#include "protocol/ServiceUuidMatch.h"
#include "qeltble.h"

namespace Qelt::BLE {

namespace {

constexpr uint16_t kMaxChannels = 62;
constexpr std::size_t kSampleWidth = 3;

template <typename Record>
Record& RequireRecord(Record* record) {
    if (record == nullptr) {
        throw ApiException("Missing output record.", QELTBLE_ERROR_INVALID_ARGUMENT);
    }
    return *record;
}

// Finds the scale of each layout entry's channel. Channel ids below 64 (an
// amplifier has at most 62 channels) are remembered once found, so later
// frames of a notification cost no map access. A channel seen for the first
// time is looked up at most once: layouts usually list channels in ascending
// order, so the record after the previous one (wrapping round to the first)
// is tried before a full lookup.
class ChannelScales {
public:
    explicit ChannelScales(const ChannelMap& channels)
        : channels_(channels), next_(channels.begin()) {}

    // Stores the scale of `channelId` in `scale`; false when the map has no
    // such channel.
    bool Find(uint16_t channelId, float& scale) {
        if (channelId < kRemembered && ((remembered_ >> channelId) & 1U) != 0) {
            scale = scales_[channelId];
            return true;
        }
        return LookUp(channelId, scale);
    }

private:
    static constexpr uint16_t kRemembered = 64;

    bool LookUp(uint16_t channelId, float& scale) {
        ChannelMap::const_iterator found = next_;
        if (found == channels_.end() || found->first != channelId) {
            found = channels_.find(channelId);
            if (found == channels_.end()) {
                return false;
            }
        }
        next_ = std::next(found);
        if (next_ == channels_.end()) {
            next_ = channels_.begin();
        }
        scale = found->second.scale;
        if (channelId < kRemembered) {
            scales_[channelId] = scale;
            remembered_ |= uint64_t{1} << channelId;
        }
        return true;
    }

    const ChannelMap& channels_;
    ChannelMap::const_iterator next_;
    uint64_t remembered_ = 0;  // bit k set: scales_[k] holds channel k's scale
    float scales_[kRemembered];
};

}  // namespace

std::string QeltLegacyProtocolHandler::GetProtocolName() const {
    return "Qelt Legacy";
}

std::string QeltLegacyProtocolHandler::GetProtocolVersion() const {
    return "1.0";
}

ProtocolUUIDs QeltLegacyProtocolHandler::GetUUIDs() const {
    ProtocolUUIDs uuids;
    uuids.dataService = kDataServiceUuid;
    uuids.dataCharacteristic = kDataCharacteristicUuid;
    uuids.amplifierConfigCharacteristic = kAmplifierConfigCharacteristicUuid;
    uuids.channelConfigCharacteristic = kChannelConfigCharacteristicUuid;
    uuids.payloadConfigCharacteristic = kPayloadConfigCharacteristicUuid;
    uuids.filterConfigCharacteristic = kFilterConfigCharacteristicUuid;
    return uuids;
}

bool QeltLegacyProtocolHandler::CanHandleDevice(
    const std::vector<std::string>& serviceUuids) const {
    return ListHoldsServiceUuid(serviceUuids, kDataServiceUuid);
}

void QeltLegacyProtocolHandler::ParseAmplifierConfiguration(
    const std::string& value, QELTBLE_AMPLIFIER_CONFIGURATION* config) {
    QELTBLE_AMPLIFIER_CONFIGURATION& record = RequireRecord(config);
    Parser::AmplifierConfiguration(value, record);
    if (record.channelConfigCount > kMaxChannels) {
        throw ApiException("Amplifier reports too many channels.", QELTBLE_ERROR_COMMUNICATION);
    }
}

void QeltLegacyProtocolHandler::ParseChannelConfiguration(const std::string& value,
                                                          QELTBLE_CHANNEL_CONFIGURATION* config) {
    Parser::ChannelConfiguration(value, RequireRecord(config));
}

void QeltLegacyProtocolHandler::ParsePayloadChannelConfiguration(
    const std::string& value, QELTBLE_PAYLOADCHANNEL_CONFIGURATION* config) {
    Parser::PayloadChannelConfiguration(value, RequireRecord(config));
}

void QeltLegacyProtocolHandler::ParseFilterChannelConfiguration(
    const std::string& value, QELTBLE_FILTERCHANNEL_CONFIGURATION* config) {
    Parser::FilterChannelConfiguration(value, RequireRecord(config));
}

uint8_t QeltLegacyProtocolHandler::ParseBatteryLevel(const std::string& value) {
    return Parser::BatteryLevel(value);
}

void QeltLegacyProtocolHandler::ConvertPayload(const std::string& payload, float* out,
                                               uint16_t count,
                                               const QELTBLE_AMPLIFIER_CONFIGURATION* amplifier,
                                               const ChannelMap* channels, const FilterMap*,
                                               const PayloadLayout* layout) {
    if (amplifier == nullptr || channels == nullptr || layout == nullptr ||
        (out == nullptr && count != 0)) {
        throw ApiException("Missing conversion argument.", QELTBLE_ERROR_INVALID_ARGUMENT);
    }
    if (payload.size() != amplifier->payloadSize) {
        throw ApiException("Invalid payload size.", QELTBLE_ERROR_PAYLOAD_LAYOUT);
    }
    const std::size_t slots = amplifier->payloadSize / kSampleWidth;
    if (count != slots) {
        throw ApiException("Invalid buffer size.", QELTBLE_ERROR_COMMUNICATION);
    }
    const std::size_t entries = layout->size();
    if (entries > slots) {
        throw ApiException("Payload configuration larger than buffer.",
                           QELTBLE_ERROR_PAYLOAD_LAYOUT);
    }

    // From here on every slot read lies inside the payload and every write
    // inside the count floats at out.
    const auto* sample = reinterpret_cast<const unsigned char*>(payload.data());
    const QELTBLE_PAYLOADCHANNEL_CONFIGURATION* entry = layout->data();
    ChannelScales scales(*channels);
    for (std::size_t i = 0; i < entries; ++i, sample += kSampleWidth) {
        float scale;
        if (!scales.Find(entry[i].channelId, scale)) {
            throw ApiException("Payload references unknown channel id.",
                               QELTBLE_ERROR_PAYLOAD_LAYOUT);
        }
        out[i] = static_cast<float>(RawSample::Int24BigEndian(sample)) * scale;
    }
}

uint8_t QeltLegacyProtocolHandler::GetBytesPerChannel() const {
    return kSampleWidth;
}

}  // namespace Qelt::BLE
