// Handler of the legacy generation: the host reads the layout from the
// amplifier's configuration characteristics, and every sample is a 24-bit
// big-endian two's-complement count multiplied by its channel's scale.
#pragma once

#include "protocol/IProtocolHandler.h"

namespace Qelt::BLE {

class QeltLegacyProtocolHandler : public IProtocolHandler {
public:
    std::string GetProtocolName() const override;
    std::string GetProtocolVersion() const override;
    ProtocolUUIDs GetUUIDs() const override;
    bool CanHandleDevice(const std::vector<std::string>& serviceUuids) const override;

    // As Parser::AmplifierConfiguration, and also rejects more than 62
    // channels.
    void ParseAmplifierConfiguration(const std::string& value,
                                     QELTBLE_AMPLIFIER_CONFIGURATION* config) override;
    void ParseChannelConfiguration(const std::string& value,
                                   QELTBLE_CHANNEL_CONFIGURATION* config) override;
    void ParsePayloadChannelConfiguration(const std::string& value,
                                          QELTBLE_PAYLOADCHANNEL_CONFIGURATION* config) override;
    void ParseFilterChannelConfiguration(const std::string& value,
                                         QELTBLE_FILTERCHANNEL_CONFIGURATION* config) override;
    uint8_t ParseBatteryLevel(const std::string& value) override;

    using IProtocolHandler::ConvertPayload;
    // Slot i of the payload is the three bytes at 3 * i, described by layout
    // entry i; out[i] receives its count times the scale of the entry's
    // channel. The filter map and the entries' sampleIndex are not used.
    void ConvertPayload(const std::string& payload, float* out, uint16_t count,
                        const QELTBLE_AMPLIFIER_CONFIGURATION* amplifier,
                        const ChannelMap* channels, const FilterMap* filters,
                        const PayloadLayout* layout) override;

    uint8_t GetBytesPerChannel() const override;
};

}  // namespace Qelt::BLE
