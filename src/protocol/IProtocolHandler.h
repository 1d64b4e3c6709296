// The protocol handler hides the difference between the two amplifier
// generations from the device: which UUIDs to use, which configuration reads
// happen, how configuration and battery values decode, and how a sample
// notification becomes one float per payload slot.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "protocol/ProtocolUUIDs.h"
#include "qeltble.h"

namespace Qelt::BLE {

// Channel records keyed by channelId, filter records keyed by channelId, and
// the payload layout (slot i of a notification is described by entry i).
using ChannelMap = std::map<uint16_t, QELTBLE_CHANNEL_CONFIGURATION>;
using FilterMap = std::map<uint16_t, QELTBLE_FILTERCHANNEL_CONFIGURATION>;
using PayloadLayout = std::vector<QELTBLE_PAYLOADCHANNEL_CONFIGURATION>;

class IProtocolHandler {
public:
    virtual ~IProtocolHandler();

    virtual std::string GetProtocolName() const = 0;
    virtual std::string GetProtocolVersion() const = 0;
    virtual ProtocolUUIDs GetUUIDs() const = 0;
    // True when the list of service UUIDs holds the service this handler
    // speaks, compared without regard to ASCII letter case.
    virtual bool CanHandleDevice(const std::vector<std::string>& serviceUuids) const = 0;

    // Configuration decoders. A handler whose generation has no such record
    // leaves the output untouched.
    virtual void ParseAmplifierConfiguration(const std::string& value,
                                             QELTBLE_AMPLIFIER_CONFIGURATION* config);
    virtual void ParseChannelConfiguration(const std::string& value,
                                           QELTBLE_CHANNEL_CONFIGURATION* config);
    virtual void ParsePayloadChannelConfiguration(const std::string& value,
                                                  QELTBLE_PAYLOADCHANNEL_CONFIGURATION* config);
    virtual void ParseFilterChannelConfiguration(const std::string& value,
                                                 QELTBLE_FILTERCHANNEL_CONFIGURATION* config);
    virtual uint8_t ParseBatteryLevel(const std::string& value) = 0;

    // Converts one sample notification into `count` floats at `out`. The
    // device calls the first form when UsesNusForConfig() is true and the
    // second otherwise; the form a handler does not speak does nothing.
    virtual void ConvertPayload(const std::string& payload, float* out, uint16_t count,
                                const QELTBLE_AMPLIFIER_CONFIGURATION* amplifier,
                                const PayloadLayout* layout);
    virtual void ConvertPayload(const std::string& payload, float* out, uint16_t count,
                                const QELTBLE_AMPLIFIER_CONFIGURATION* amplifier,
                                const ChannelMap* channels, const FilterMap* filters,
                                const PayloadLayout* layout);

    virtual uint8_t GetBytesPerChannel() const = 0;
    virtual bool RequiresChannelConfiguration() const { return true; }
    virtual bool RequiresPayloadConfiguration() const { return true; }
    virtual bool RequiresFilterConfiguration() const { return true; }
    virtual bool UsesNusForConfig() const { return false; }
};

}  // namespace Qelt::BLE
