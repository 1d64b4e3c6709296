// Handler of the NUS generation: the host synthesises the layout itself, and
// every sample is a raw integer count of 3 or 4 bytes in either byte order,
// without scaling. There are no configuration records to decode.
#pragma once

#include "protocol/IProtocolHandler.h"

namespace Qelt::BLE {

class QeltNusProtocolHandler : public IProtocolHandler {
public:
    std::string GetProtocolName() const override;
    std::string GetProtocolVersion() const override;
    ProtocolUUIDs GetUUIDs() const override;
    bool CanHandleDevice(const std::vector<std::string>& serviceUuids) const override;

    // The first byte in percent; an empty value yields 0.
    uint8_t ParseBatteryLevel(const std::string& value) override;

    using IProtocolHandler::ConvertPayload;
    // Slot i of the payload is the bytesPerChannel bytes at
    // bytesPerChannel * i; out[i] receives its raw count. Only the layout's
    // length matters; a layout longer than `count` is refused.
    void ConvertPayload(const std::string& payload, float* out, uint16_t count,
                        const QELTBLE_AMPLIFIER_CONFIGURATION* amplifier,
                        const PayloadLayout* layout) override;

    uint8_t GetBytesPerChannel() const override;
    bool RequiresChannelConfiguration() const override { return false; }
    bool RequiresPayloadConfiguration() const override { return false; }
    bool RequiresFilterConfiguration() const override { return false; }
    bool UsesNusForConfig() const override { return true; }

    // Sets the width (3 or 4 bytes) and byte order of the samples in a
    // notification. Any other width throws (code 4) and changes nothing.
    void SetSampleFormat(unsigned char width, bool isLittleEndian);

private:
    uint8_t bytesPerChannel = 3;
    bool littleEndian = false;
};

}  // namespace Qelt::BLE
