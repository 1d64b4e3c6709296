#include "protocol/QeltNusProtocolHandler.h"

#include <cstddef>

#include "api/ApiException.h"
#include "protocol/RawSample.h"
#include "protocol/ServiceUuidMatch.h"
#include "qeltble.h"

namespace Qelt::BLE {

namespace {

// Converts `slots` consecutive samples of Width bytes each; the reader is
// fixed at compile time so that the loop holds no branch per sample.
template <std::size_t Width, int32_t (*Read)(const unsigned char*)>
void ConvertSlots(const unsigned char* payload, float* out, std::size_t slots) {
    for (std::size_t i = 0; i < slots; ++i) {
        out[i] = static_cast<float>(Read(payload + Width * i));
    }
}

}  // namespace

std::string QeltNusProtocolHandler::GetProtocolName() const {
    return "Qelt NUS";
}

std::string QeltNusProtocolHandler::GetProtocolVersion() const {
    return "2.0";
}

ProtocolUUIDs QeltNusProtocolHandler::GetUUIDs() const {
    ProtocolUUIDs uuids;
    uuids.dataService = kDataServiceUuid;
    uuids.dataCharacteristic = kDataCharacteristicUuid;
    uuids.nusService = kNusServiceUuid;
    uuids.nusRx = kNusRxUuid;
    uuids.nusTx = kNusTxUuid;
    return uuids;
}

bool QeltNusProtocolHandler::CanHandleDevice(const std::vector<std::string>& serviceUuids) const {
    return ListHoldsServiceUuid(serviceUuids, kNusServiceUuid);
}

uint8_t QeltNusProtocolHandler::ParseBatteryLevel(const std::string& value) {
    return value.empty() ? 0 : static_cast<uint8_t>(value.front());
}

void QeltNusProtocolHandler::ConvertPayload(const std::string& payload, float* out, uint16_t count,
                                            const QELTBLE_AMPLIFIER_CONFIGURATION* amplifier,
                                            const PayloadLayout* layout) {
    if (amplifier == nullptr || layout == nullptr || (out == nullptr && count != 0)) {
        throw ApiException("Missing conversion argument.", QELTBLE_ERROR_INVALID_ARGUMENT);
    }
    if (payload.size() != amplifier->payloadSize) {
        throw ApiException("Invalid payload size.", QELTBLE_ERROR_PAYLOAD_LAYOUT);
    }
    if (count != amplifier->payloadSize / bytesPerChannel) {
        throw ApiException("Invalid buffer size.", QELTBLE_ERROR_COMMUNICATION);
    }
    const std::size_t slots = layout->size();
    if (slots > count) {
        throw ApiException("Payload configuration larger than buffer.",
                           QELTBLE_ERROR_PAYLOAD_LAYOUT);
    }

    // count * bytesPerChannel <= payloadSize, so every slot lies inside the
    // payload and every write inside the count floats at out.
    const auto* bytes = reinterpret_cast<const unsigned char*>(payload.data());
    if (bytesPerChannel == 3) {
        if (littleEndian) {
            ConvertSlots<3, RawSample::Int24LittleEndian>(bytes, out, slots);
        } else {
            ConvertSlots<3, RawSample::Int24BigEndian>(bytes, out, slots);
        }
    } else {
        if (littleEndian) {
            ConvertSlots<4, RawSample::Int32LittleEndian>(bytes, out, slots);
        } else {
            ConvertSlots<4, RawSample::Int32BigEndian>(bytes, out, slots);
        }
    }
}

uint8_t QeltNusProtocolHandler::GetBytesPerChannel() const {
    return bytesPerChannel;
}

void QeltNusProtocolHandler::SetSampleFormat(unsigned char width, bool isLittleEndian) {
    if (width != 3 && width != 4) {
        throw ApiException("Sample width must be 3 or 4 bytes.", QELTBLE_ERROR_INVALID_ARGUMENT);
    }
    bytesPerChannel = width;
    littleEndian = isLittleEndian;
}

}  // namespace Qelt::BLE
