// A typed D-Bus value as the simulator stores properties and reads control
// arguments: each alternative maps to exactly one D-Bus signature, so a
// property keeps the type that BlueZ gives it (RSSI `n`, MTU `q`, ...).
#pragma once

#include <systemd/sd-bus.h>

#include <cstdint>
#include <map>
#include <string>
#include <variant>
#include <vector>

namespace QeltSim {

struct ObjectPath {
    std::string value;
    bool operator==(const ObjectPath&) const = default;
};

using Bytes = std::vector<uint8_t>;

using BusValue =
    std::variant<bool, uint8_t, uint16_t, int16_t, uint32_t, int32_t, uint64_t, double, std::string,
                 ObjectPath, std::vector<std::string>, std::vector<ObjectPath>, Bytes,
                 std::vector<double>, std::map<uint16_t, Bytes>, std::map<std::string, Bytes>>;

using PropertyDict = std::map<std::string, BusValue>;

// The D-Bus signature of the value's type.
const char* SignatureOf(const BusValue& value);

// Appends the value itself (not wrapped in a variant).
int AppendValue(sd_bus_message* message, const BusValue& value);
// Appends the value wrapped in a variant.
int AppendVariant(sd_bus_message* message, const BusValue& value);

// Reads a variant whose contents have one of the supported signatures.
// Returns a negative errno for unsupported or malformed contents; the message
// is then left inside or after the variant, so the caller must give up on it.
int ReadVariant(sd_bus_message* message, BusValue& value);
// Reads an `a{sv}` dictionary whose values ReadVariant supports.
int ReadDict(sd_bus_message* message, PropertyDict& dict);

// Numeric conversions used for control arguments: any integer alternative is
// accepted when it fits. Return false for other types or values out of range.
bool AsUnsigned(const BusValue& value, uint64_t& out);
bool AsSigned(const BusValue& value, int64_t& out);
bool AsDouble(const BusValue& value, double& out);

}  // namespace QeltSim
