// A client's discovery filter as SetDiscoveryFilter takes it, with BlueZ's
// validation, and the test whether an advertiser passes it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "BusValue.h"
#include "PeerConfig.h"

namespace QeltSim {

struct DiscoveryFilter {
    std::string transport = "auto";
    std::vector<std::string> uuids;  // lower case, 128-bit form
    std::optional<int16_t> rssi;
    std::optional<uint16_t> pathloss;
    bool duplicateData = false;
    bool discoverable = false;
    std::string pattern;

    // Parses a SetDiscoveryFilter dictionary. Returns false for an unknown
    // key, a value of the wrong type or out of range, or RSSI together with
    // Pathloss. An empty dictionary gives an empty optional.
    static bool Parse(const PropertyDict& dict, std::optional<DiscoveryFilter>& out);

    bool Passes(const PeerConfig& peer, int16_t rssiHeard) const;
};

// The keys SetDiscoveryFilter understands, in BlueZ's order.
std::vector<std::string> DiscoveryFilterKeys();

}  // namespace QeltSim
