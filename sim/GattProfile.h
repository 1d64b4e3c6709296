// What a peripheral's GATT server offers, as the peer model describes it:
// services, characteristics with their properties, and the behaviour behind
// reads, writes and enabled notifications. BlueZ's side of it (objects,
// sessions) is GattDatabase.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "BusValue.h"

namespace QeltSim {

// Characteristic properties, as in the characteristic declaration.
enum CharacteristicProperty : uint8_t {
    kBroadcast = 0x01,
    kRead = 0x02,
    kWriteWithoutResponse = 0x04,
    kWrite = 0x08,
    kNotify = 0x10,
    kIndicate = 0x20,
};

struct GattCharacteristicDef {
    std::string uuid;  // lower case, 128-bit form
    uint8_t properties = 0;
    // The value a read returns now.
    std::function<Bytes()> read;
    // The host wrote a value (with or without response).
    std::function<void(const Bytes&)> write;
    // Notifications were enabled (a first session registered) or disabled.
    std::function<void(bool enabled)> notifyChanged;
};

struct GattServiceDef {
    std::string uuid;
    bool primary = true;
    std::vector<GattCharacteristicDef> characteristics;
};

using GattProfile = std::vector<GattServiceDef>;

// Where a peer model sends its notifications while a link is up.
class Notifier {
public:
    virtual ~Notifier() = default;
    // Sends a notification of the characteristic with this UUID; dropped
    // when no client has notifications enabled. Returns true when sent.
    virtual bool Notify(const std::string& uuid, const uint8_t* data, size_t size) = 0;
    // Whether a client has notifications of this characteristic enabled.
    virtual bool Notifying(const std::string& uuid) const = 0;
};

// The 128-bit form of a 16-bit Bluetooth UUID, lower case.
inline std::string Uuid16(uint16_t uuid) {
    static const char* digits = "0123456789abcdef";
    std::string text = "0000xxxx-0000-1000-8000-00805f9b34fb";
    for (int i = 0; i < 4; ++i) {
        text[4 + i] = digits[(uuid >> (12 - 4 * i)) & 0xF];
    }
    return text;
}

}  // namespace QeltSim
