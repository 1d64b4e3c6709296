#include "PeerCatalog.h"

#include <cstdio>

namespace QeltSim {

namespace {

constexpr const char* kDataService = "b5211405-449f-4ba0-a651-b887924b81e8";
constexpr const char* kNusService = "6e400001-b5a3-f393-e0a9-e50e24dcca9e";
// The amplifiers' EEG scale: microvolts per count of the 24-bit converter.
constexpr float kEegScale = 0.02235174f;

}  // namespace

std::string AddressFromText(const std::string& text) {
    // FNV-1a, then the two top bits set as a static random address requires.
    uint64_t hash = 1469598103934665603ull;
    for (const unsigned char c : text) {
        hash = (hash ^ c) * 1099511628211ull;
    }
    uint8_t bytes[6];
    for (int i = 0; i < 6; ++i) {
        bytes[i] = static_cast<uint8_t>(hash >> (8 * i));
    }
    bytes[0] = static_cast<uint8_t>(bytes[0] | 0xC0);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%02X:%02X:%02X:%02X:%02X:%02X", bytes[0], bytes[1],
                  bytes[2], bytes[3], bytes[4], bytes[5]);
    return buffer;
}

std::string AddressAsAlias(const std::string& address) {
    std::string alias = address;
    for (char& c : alias) {
        if (c == ':') {
            c = '-';
        }
    }
    return alias;
}

void ApplyGenerationDefaults(AmplifierConfig& amplifier) {
    amplifier.channels.clear();
    amplifier.filters.clear();
    if (amplifier.generation == Generation::Legacy) {
        // Eight EEG channels and a sample counter.
        for (int i = 0; i < 8; ++i) {
            amplifier.channels.push_back(ChannelConfig{1, kEegScale});
        }
        amplifier.channels.push_back(ChannelConfig{5, 1.0f});
        amplifier.framesPerNotification = 4;
        for (uint16_t id = 1; id <= 2; ++id) {
            FilterConfig filter;
            filter.channelId = id;
            // A high-pass and a notch, as coefficients the host carries along.
            filter.data = {0x01, 0x02, 0x00, 0x00, 0x00, 0x3F, 0x32,
                           0x00, 0x00, 0x00, 0x48, 0x42, 0x00, static_cast<uint8_t>(id)};
            amplifier.filters.push_back(filter);
        }
        amplifier.modelNumber = "QA-8L";
    } else {
        // The layout the host assumes until it switches the amplifier over.
        amplifier.channels.push_back(ChannelConfig{1, 1.0f});
        amplifier.framesPerNotification = 1;
        amplifier.nusBytesPerSample = 3;
        amplifier.nusLittleEndian = false;
        amplifier.modelNumber = "QA-32N";
    }
}

PeerConfig MakeAmplifier(const std::string& serial, Generation generation) {
    PeerConfig config;
    config.kind = PeerKind::Amplifier;
    config.address = AddressFromText(serial);
    config.addressType = "random";
    config.name = serial;
    config.rssi = -58;
    config.txPower = 0;
    config.uuids = {generation == Generation::Legacy ? kDataService : kNusService};
    config.manufacturerData = {
        {0x0A51, {0x01, generation == Generation::Legacy ? uint8_t{2} : uint8_t{1}}}};
    config.amplifier.generation = generation;
    ApplyGenerationDefaults(config.amplifier);
    return config;
}

PeerConfig MakePhone() {
    PeerConfig config;
    config.kind = PeerKind::Phone;
    config.address = "5C:E9:1E:0A:77:31";
    config.addressType = "public";
    config.name = "Galaxy Tab";
    config.rssi = -71;
    config.txPower = 8;
    config.appearance = 0x0040;
    config.deviceClass = 0x5A020C;
    config.icon = "phone";
    config.manufacturerData = {{0x0075, {0x42, 0x04, 0x01, 0x80, 0x60}}};
    return config;
}

PeerConfig MakeHeadset() {
    PeerConfig config;
    config.kind = PeerKind::Headset;
    config.address = "38:18:4C:12:9E:05";
    config.addressType = "public";
    config.name = "Studio Headset";
    config.rssi = -80;
    config.deviceClass = 0x240404;
    config.icon = "audio-headset";
    // Paired earlier: BlueZ lists it from the start.
    config.remembered = true;
    config.paired = true;
    config.trusted = true;
    config.uuids = {"0000110b-0000-1000-8000-00805f9b34fb", "0000110e-0000-1000-8000-00805f9b34fb"};
    return config;
}

PeerConfig MakeNamelessTag() {
    PeerConfig config;
    config.kind = PeerKind::Tag;
    config.address = "E2:5A:19:4F:21:07";
    config.addressType = "random";
    config.rssi = -88;
    config.serviceData = {{"0000feaa-0000-1000-8000-00805f9b34fb", {0x10, 0x00, 0x03, 0x71}}};
    return config;
}

std::vector<PeerConfig> DefaultPeers() {
    return {MakeAmplifier("AB-1234.56.78", Generation::Legacy),
            MakeAmplifier("CD-2345.67.89", Generation::Nus), MakePhone(), MakeHeadset(),
            MakeNamelessTag()};
}

}  // namespace QeltSim
