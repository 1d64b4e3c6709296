#include "DiscoveryFilter.h"

#include <algorithm>
#include <cctype>

namespace QeltSim {

namespace {

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

bool IsHex(const std::string& text) {
    return std::all_of(text.begin(), text.end(),
                       [](unsigned char c) { return std::isxdigit(c) != 0; });
}

// 16-, 32- and 128-bit UUID texts in their 128-bit form; empty when invalid.
std::string FullUuid(const std::string& text) {
    const std::string uuid = Lower(text);
    if ((uuid.size() == 4 || uuid.size() == 8) && IsHex(uuid)) {
        return std::string(8 - uuid.size(), '0') + uuid + "-0000-1000-8000-00805f9b34fb";
    }
    if (uuid.size() == 36 && uuid[8] == '-' && uuid[13] == '-' && uuid[18] == '-' &&
        uuid[23] == '-') {
        std::string digits = uuid;
        digits.erase(std::remove(digits.begin(), digits.end(), '-'), digits.end());
        if (digits.size() == 32 && IsHex(digits)) {
            return uuid;
        }
    }
    return "";
}

}  // namespace

std::vector<std::string> DiscoveryFilterKeys() {
    return {"UUIDs", "RSSI", "Pathloss", "Transport", "DuplicateData", "Discoverable", "Pattern"};
}

bool DiscoveryFilter::Parse(const PropertyDict& dict, std::optional<DiscoveryFilter>& out) {
    out.reset();
    if (dict.empty()) {
        return true;
    }
    DiscoveryFilter filter;
    for (const auto& [key, value] : dict) {
        if (key == "UUIDs") {
            const auto* uuids = std::get_if<std::vector<std::string>>(&value);
            if (uuids == nullptr) {
                return false;
            }
            for (const auto& text : *uuids) {
                const std::string uuid = FullUuid(text);
                if (uuid.empty()) {
                    return false;
                }
                filter.uuids.push_back(uuid);
            }
        } else if (key == "RSSI") {
            const auto* rssi = std::get_if<int16_t>(&value);
            if (rssi == nullptr || *rssi > 20 || *rssi < -127) {
                return false;
            }
            filter.rssi = *rssi;
        } else if (key == "Pathloss") {
            const auto* pathloss = std::get_if<uint16_t>(&value);
            if (pathloss == nullptr || *pathloss > 137) {
                return false;
            }
            filter.pathloss = *pathloss;
        } else if (key == "Transport") {
            const auto* transport = std::get_if<std::string>(&value);
            if (transport == nullptr ||
                (*transport != "auto" && *transport != "le" && *transport != "bredr")) {
                return false;
            }
            filter.transport = *transport;
        } else if (key == "DuplicateData" || key == "Discoverable") {
            const auto* flag = std::get_if<bool>(&value);
            if (flag == nullptr) {
                return false;
            }
            (key == "DuplicateData" ? filter.duplicateData : filter.discoverable) = *flag;
        } else if (key == "Pattern") {
            const auto* pattern = std::get_if<std::string>(&value);
            if (pattern == nullptr) {
                return false;
            }
            filter.pattern = *pattern;
        } else {
            return false;
        }
    }
    if (filter.rssi && filter.pathloss) {
        return false;
    }
    out = filter;
    return true;
}

bool DiscoveryFilter::Passes(const PeerConfig& peer, int16_t rssiHeard) const {
    // Every simulated peer advertises over LE; those with a class of device
    // are dual-mode and inquiry finds them too.
    if (transport == "bredr" && !peer.deviceClass) {
        return false;
    }
    if (rssi && rssiHeard < *rssi) {
        return false;
    }
    if (pathloss && peer.txPower && (*peer.txPower - rssiHeard) > *pathloss) {
        return false;
    }
    if (!uuids.empty()) {
        bool found = false;
        for (const auto& advertised : peer.uuids) {
            found =
                found || std::find(uuids.begin(), uuids.end(), FullUuid(advertised)) != uuids.end();
        }
        if (!found) {
            return false;
        }
    }
    if (!pattern.empty()) {
        const std::string name = peer.name ? *peer.name : "";
        if (peer.address.rfind(pattern, 0) != 0 && name.rfind(pattern, 0) != 0) {
            return false;
        }
    }
    return true;
}

}  // namespace QeltSim
