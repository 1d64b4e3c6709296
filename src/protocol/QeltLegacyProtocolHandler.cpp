#include "protocol/QeltLegacyProtocolHandler.h"

#include <cstddef>
#include <iterator>

#include "api/ApiException.h"
#include "protocol/Parser.h"
#include "protocol/RawSample.h"
#include "protocol/ServiceUuidMatch.h"

namespace Qelt::BLE {

namespace {

constexpr uint16_t kMaxChannels = 62;
constexpr std::size_t kSampleWidth = 3;

constexpr int32_t kCommunicationFailed = 3;
constexpr int32_t kInvalidArgument = 4;
constexpr int32_t kPayloadMismatch = -2;

template <typename Record>
Record& RequireRecord(Record* record) {
    if (record == nullptr) {
        throw ApiException("Missing output record.", kInvalidArgument);
    }
    return *record;
}

// Finds the channel record of each layout entry in turn. Layouts usually list
// channels in ascending order, frame after frame, so the entry after the
// previous one's (wrapping round to the first) is tried before a full lookup.
class ChannelCursor {
public:
    explicit ChannelCursor(const ChannelMap& channels)
        : begin_(channels.begin()), end_(channels.end()), next_(begin_), channels_(channels) {}

    // The record of `channelId`, or null when the map has none.
    const QELTBLE_CHANNEL_CONFIGURATION* Find(uint16_t channelId) {
        ChannelMap::const_iterator found = next_;
        if (found == end_ || found->first != channelId) {
            found = channels_.find(channelId);
            if (found == end_) {
                return nullptr;
            }
        }
        next_ = std::next(found);
        if (next_ == end_) {
            next_ = begin_;
        }
        return &found->second;
    }

private:
    ChannelMap::const_iterator begin_;
    ChannelMap::const_iterator end_;
    ChannelMap::const_iterator next_;
    const ChannelMap& channels_;
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
        throw ApiException("Amplifier reports too many channels.", kCommunicationFailed);
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
        throw ApiException("Missing conversion argument.", kInvalidArgument);
    }
    if (payload.size() != amplifier->payloadSize) {
        throw ApiException("Invalid payload size.", kPayloadMismatch);
    }
    const std::size_t slots = amplifier->payloadSize / kSampleWidth;
    if (count != slots) {
        throw ApiException("Invalid buffer size.", kCommunicationFailed);
    }
    const std::size_t entries = layout->size();
    if (entries > slots) {
        throw ApiException("Payload configuration larger than buffer.", kPayloadMismatch);
    }

    // From here on every slot read lies inside the payload and every write
    // inside the count floats at out.
    const auto* sample = reinterpret_cast<const unsigned char*>(payload.data());
    const QELTBLE_PAYLOADCHANNEL_CONFIGURATION* entry = layout->data();
    ChannelCursor cursor(*channels);
    for (std::size_t i = 0; i < entries; ++i, sample += kSampleWidth) {
        const QELTBLE_CHANNEL_CONFIGURATION* channel = cursor.Find(entry[i].channelId);
        if (channel == nullptr) {
            throw ApiException("Payload references unknown channel id.", kPayloadMismatch);
        }
        out[i] = static_cast<float>(RawSample::Int24BigEndian(sample)) * channel->scale;
    }
}

uint8_t QeltLegacyProtocolHandler::GetBytesPerChannel() const {
    return kSampleWidth;
}

}  // namespace Qelt::BLE
