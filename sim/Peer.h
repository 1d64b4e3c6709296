// A simulated remote device as it exists in the air, independent of any
// adapter: its configuration, whether it is switched on, and whether a link to it is
// up (a linked peripheral stops advertising).
#pragma once

#include <random>

#include "GattProfile.h"
#include "PeerConfig.h"

namespace QeltSim {

class Peer {
public:
    explicit Peer(PeerConfig config) : config_(std::move(config)), poweredOn_(config_.poweredOn) {}
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;
    virtual ~Peer() = default;

    PeerConfig& Config() { return config_; }
    const PeerConfig& Config() const { return config_; }
    const std::string& Key() const { return key_.empty() ? key_ = config_.Key() : key_; }

    bool PoweredOn() const { return poweredOn_; }
    void SetPoweredOn(bool on) { poweredOn_ = on; }
    bool Linked() const { return linked_; }
    void SetLinked(bool linked) { linked_ = linked; }
    bool Advertising() const { return poweredOn_ && !linked_; }

    // The GATT server as it stands now. The base has the generic access
    // and generic attribute services only.
    virtual GattProfile BuildProfile();
    // A link's GATT client is ready (Attach) or the link is gone (Detach).
    virtual void Attach(Notifier& link) { link_ = &link; }
    virtual void Detach() { link_ = nullptr; }
    // The configuration was changed through the control interface.
    virtual void ConfigChanged() {}
    // The ATT MTU a connection settles on.
    uint16_t Mtu() const { return 247; }

    // The strength of the next advertisement heard: the configured level with
    // the spread of a real room.
    int16_t HeardRssi(std::mt19937& random) const {
        std::uniform_int_distribution<int> spread(-10, 10);
        const int rssi = config_.rssi + spread(random);
        return static_cast<int16_t>(rssi >= 0 ? -1 : (rssi < -127 ? -127 : rssi));
    }

protected:
    // The two services every peripheral has.
    void AddGenericServices(GattProfile& profile) const;

    Notifier* link_ = nullptr;

private:
    PeerConfig config_;
    mutable std::string key_;
    bool poweredOn_;
    bool linked_ = false;
};

}  // namespace QeltSim
