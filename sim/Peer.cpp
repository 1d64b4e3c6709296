#include "Peer.h"

namespace QeltSim {

void Peer::AddGenericServices(GattProfile& profile) const {
    const std::string name = config_.name ? *config_.name : "";
    const uint16_t appearance = config_.appearance ? *config_.appearance : 0;
    GattServiceDef access{Uuid16(0x1800), true, {}};
    access.characteristics.push_back({Uuid16(0x2A00), kRead,
                                      [name] { return Bytes(name.begin(), name.end()); }, nullptr,
                                      nullptr});
    access.characteristics.push_back({Uuid16(0x2A01), kRead,
                                      [appearance] {
                                          return Bytes{static_cast<uint8_t>(appearance & 0xFF),
                                                       static_cast<uint8_t>(appearance >> 8)};
                                      },
                                      nullptr, nullptr});
    profile.push_back(std::move(access));
    GattServiceDef attribute{Uuid16(0x1801), true, {}};
    attribute.characteristics.push_back({Uuid16(0x2A05), kIndicate, nullptr, nullptr, nullptr});
    profile.push_back(std::move(attribute));
}

GattProfile Peer::BuildProfile() {
    GattProfile profile;
    AddGenericServices(profile);
    return profile;
}

}  // namespace QeltSim
