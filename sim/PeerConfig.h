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

// Faults of a legacy amplifier's configuration records: what its amplifier
// configuration says and how its record bursts are cut or altered. The
// records of the model are the starting point; each fault changes only what
// it names.
struct RecordFaults {
    // Served as the amplifier configuration instead of the model's record.
    std::optional<std::vector<uint8_t>> amplifierValue;
    // Counts the amplifier configuration reports instead of the model's.
    std::optional<uint16_t> channelCount;
    std::optional<uint16_t> channelConfigCount;
    std::optional<uint16_t> payloadConfigCount;
    std::optional<uint16_t> filterConfigCount;
    // Values cut to this many bytes (-1: whole).
    int32_t amplifierLength = -1;
    int32_t channelLength = -1;
    int32_t payloadLength = -1;
    int32_t filterLength = -1;
    // Records one burst notifies at most (-1: all): a kind's own limit, or
    // else the limit of every kind.
    int32_t recordLimit = -1;
    int32_t channelLimit = -1;
    int32_t payloadLimit = -1;
    int32_t filterLimit = -1;
    // Payload records that name another channel than their slot's: slot
    // (position in the layout) -> channel id.
    std::map<uint16_t, uint16_t> payloadChannels;
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
    RecordFaults records;
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
