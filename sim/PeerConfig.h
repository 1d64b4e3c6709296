// What a simulated remote device is: its identity as BlueZ sees it (address,
// name, advertised data) and, for an amplifier, the amplifier's model. Filled
// from the defaults, the command line, a scenario file or a control call.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace QeltSim {

enum class PeerKind { Amplifier, Phone, Headset, Tag };
enum class Generation { Legacy, Nus };

struct ChannelConfig {
    uint8_t type = 1;  // 5 marks a sample counter
    float scale = 1.0f;
};

struct FilterConfig {
    uint16_t channelId = 1;
    std::array<uint8_t, 14> data{};
};

// Faults of an amplifier's link and GATT database.
struct LinkFaults {
    uint32_t connectFailures = 0;  // the next N Connect calls fail
    std::string connectErrorName = "org.bluez.Error.Failed";
    std::string connectErrorMessage = "le-connection-abort-by-local";
    bool servicesNeverResolve = false;
    // ServicesResolved is signalled before the GATT objects of a first
    // connection are announced, as real BlueZ sometimes does.
    bool resolvedBeforeObjects = false;
    // Configuration characteristics notify at most this many records (-1: all).
    int32_t configRecordLimit = -1;
    std::vector<std::string> missingCharacteristics;  // UUIDs left out
    bool offerBothServices = false;                   // data service and NUS on one amplifier
};

struct AmplifierConfig {
    Generation generation = Generation::Legacy;
    uint16_t samplingRate = 256;
    std::vector<ChannelConfig> channels;  // channel ids are 1-based positions
    uint16_t framesPerNotification = 4;
    std::vector<FilterConfig> filters;
    uint8_t battery = 87;
    std::string modelNumber;
    std::string serialNumber;  // 2A25; the advertised name when empty
    std::string firmwareRevision = "2.4.1";
    std::string hardwareRevision = "C";
    std::string manufacturerName = "Qelt Systems";
    // The stream layout of the NUS generation, set by a command the host
    // sends or through the control interface.
    uint8_t nusBytesPerSample = 3;
    bool nusLittleEndian = false;
    LinkFaults faults;
};

struct PeerConfig {
    PeerKind kind = PeerKind::Amplifier;
    std::string address;  // "XX:XX:XX:XX:XX:XX"
    std::string addressType = "random";
    std::optional<std::string> name;  // absent: the device has no Name
    std::string alias;                // empty: the name, or the address
    bool remembered = false;          // in BlueZ's tree from the start
    bool paired = false;
    bool trusted = false;
    bool poweredOn = true;  // advertising when not connected
    int16_t rssi = -60;
    std::optional<int16_t> txPower;
    std::optional<uint16_t> appearance;
    std::optional<uint32_t> deviceClass;
    std::string icon;
    std::vector<std::string> uuids;  // advertised service UUIDs
    std::map<uint16_t, std::vector<uint8_t>> manufacturerData;
    std::map<std::string, std::vector<uint8_t>> serviceData;
    AmplifierConfig amplifier;  // for PeerKind::Amplifier

    // The serial number an amplifier is addressed by (its advertised name).
    std::string Key() const { return name ? *name : alias; }
};

}  // namespace QeltSim
