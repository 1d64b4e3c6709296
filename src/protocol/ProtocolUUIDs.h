// The GATT UUIDs a protocol handler tells its device to use, by role. Each is
// an upper-case 36-character UUID, or empty when the handler has no use for
// that role.
#pragma once

#include <string>

namespace Qelt::BLE {

// Qelt data service and its characteristics.
inline constexpr const char* kDataServiceUuid = "B5211405-449F-4BA0-A651-B887924B81E8";
inline constexpr const char* kDataCharacteristicUuid = "B5211406-449F-4BA0-A651-B887924B81E8";
inline constexpr const char* kAmplifierConfigCharacteristicUuid =
    "B5211407-449F-4BA0-A651-B887924B81E8";
inline constexpr const char* kPayloadConfigCharacteristicUuid =
    "B5211408-449F-4BA0-A651-B887924B81E8";
inline constexpr const char* kChannelConfigCharacteristicUuid =
    "B5211409-449F-4BA0-A651-B887924B81E8";
inline constexpr const char* kFilterConfigCharacteristicUuid =
    "B521140A-449F-4BA0-A651-B887924B81E8";

// Nordic UART Service: the host writes commands to RX, the amplifier notifies
// responses on TX.
inline constexpr const char* kNusServiceUuid = "6E400001-B5A3-F393-E0A9-E50E24DCCA9E";
inline constexpr const char* kNusRxUuid = "6E400002-B5A3-F393-E0A9-E50E24DCCA9E";
inline constexpr const char* kNusTxUuid = "6E400003-B5A3-F393-E0A9-E50E24DCCA9E";

struct ProtocolUUIDs {
    std::string dataService;
    std::string dataCharacteristic;
    std::string nusService;
    std::string nusRx;
    std::string nusTx;
    std::string amplifierConfigCharacteristic;
    std::string channelConfigCharacteristic;
    std::string payloadConfigCharacteristic;
    std::string filterConfigCharacteristic;
};

}  // namespace Qelt::BLE
