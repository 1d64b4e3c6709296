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

void ApplyGenerationDefaults(AmplifierSpec& amplifier) {
    amplifier.channels.clear();
    amplifier.filters.clear();
    if (amplifier.generation == Generation::Legacy) {
        // Eight EEG channels and a sample counter.
        for (int i = 0; i < 8; ++i) {
            amplifier.channels.push_back(ChannelSpec{1, kEegScale});
        }
        amplifier.channels.push_back(ChannelSpec{5, 1.0f});
        amplifier.framesPerNotification = 4;
        for (uint16_t id = 1; id <= 2; ++id) {
            FilterSpec filter;
            filter.channelId = id;
            // A high-pass and a notch, as coefficients the host carries along.
            filter.data = {0x01, 0x02, 0x00, 0x00, 0x00, 0x3F, 0x32,
                           0x00, 0x00, 0x00, 0x48, 0x42, 0x00, static_cast<uint8_t>(id)};
            amplifier.filters.push_back(filter);
        }
        amplifier.modelNumber = "QA-8L";
    } else {
        // The layout the host assumes until it switches the amplifier over.
        amplifier.channels.push_back(ChannelSpec{1, 1.0f});
        amplifier.framesPerNotification = 1;
        amplifier.nusBytesPerSample = 3;
        amplifier.nusLittleEndian = false;
        amplifier.modelNumber = "QA-32N";
    }
}

PeerSpec MakeAmplifier(const std::string& serial, Generation generation) {
    PeerSpec spec;
    spec.kind = PeerKind::Amplifier;
    spec.address = AddressFromText(serial);
    spec.addressType = "random";
    spec.name = serial;
    spec.rssi = -58;
    spec.txPower = 0;
    spec.uuids = {generation == Generation::Legacy ? kDataService : kNusService};
    spec.manufacturerData = {
        {0x0A51, {0x01, generation == Generation::Legacy ? uint8_t{2} : uint8_t{1}}}};
    spec.amplifier.generation = generation;
    ApplyGenerationDefaults(spec.amplifier);
    return spec;
}

PeerSpec MakePhone() {
    PeerSpec spec;
    spec.kind = PeerKind::Phone;
    spec.address = "5C:E9:1E:0A:77:31";
    spec.addressType = "public";
    spec.name = "Galaxy Tab";
    spec.rssi = -71;
    spec.txPower = 8;
    spec.appearance = 0x0040;
    spec.deviceClass = 0x5A020C;
    spec.icon = "phone";
    spec.manufacturerData = {{0x0075, {0x42, 0x04, 0x01, 0x80, 0x60}}};
    return spec;
}

PeerSpec MakeHeadset() {
    PeerSpec spec;
    spec.kind = PeerKind::Headset;
    spec.address = "38:18:4C:12:9E:05";
    spec.addressType = "public";
    spec.name = "Studio Headset";
    spec.rssi = -80;
    spec.deviceClass = 0x240404;
    spec.icon = "audio-headset";
    // Paired earlier: BlueZ lists it from the start.
    spec.remembered = true;
    spec.paired = true;
    spec.trusted = true;
    spec.uuids = {"0000110b-0000-1000-8000-00805f9b34fb", "0000110e-0000-1000-8000-00805f9b34fb"};
    return spec;
}

PeerSpec MakeNamelessTag() {
    PeerSpec spec;
    spec.kind = PeerKind::Tag;
    spec.address = "E2:5A:19:4F:21:07";
    spec.addressType = "random";
    spec.rssi = -88;
    spec.serviceData = {{"0000feaa-0000-1000-8000-00805f9b34fb", {0x10, 0x00, 0x03, 0x71}}};
    return spec;
}

std::vector<PeerSpec> DefaultPeers() {
    return {MakeAmplifier("AB-1234.56.78", Generation::Legacy),
            MakeAmplifier("CD-2345.67.89", Generation::Nus), MakePhone(), MakeHeadset(),
            MakeNamelessTag()};
}

}  // namespace QeltSim
