// BlueZ's adapter hci0: the Adapter1 properties, per-client discovery
// sessions with their filters, hearing advertisers while discovering, and
// the Device objects of the peers it knows.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Device.h"
#include "DiscoveryFilter.h"
#include "SimContext.h"
#include "Timer.h"

namespace QeltSim {

class Adapter {
public:
    // Creates /org/bluez/hci0 with a device object for every remembered peer.
    Adapter(SimContext& context, bool powered, const std::vector<std::shared_ptr<Peer>>& world);
    Adapter(const Adapter&) = delete;
    Adapter& operator=(const Adapter&) = delete;
    // Removes the devices and the adapter from the bus.
    ~Adapter();

    static constexpr const char* kPath = "/org/bluez/hci0";

    bool Powered() const { return powered_; }
    void SetPowered(bool powered);
    bool Discovering() const { return !sessions_.empty(); }

    // The world changed: a peer appeared, was switched on or off, or left.
    void PeerAdded(const std::shared_ptr<Peer>& peer);
    void PeerPowerChanged(Peer& peer);

    Device* FindDevice(const Peer& peer);

private:
    struct Client {
        std::optional<DiscoveryFilter> filter;
        bool discovering = false;
    };

    void DeclareProperties();
    int StartDiscovery(sd_bus_message* call);
    int StopDiscovery(sd_bus_message* call);
    int SetDiscoveryFilter(sd_bus_message* call);
    int GetDiscoveryFilters(sd_bus_message* call);
    int RemoveDevice(sd_bus_message* call);
    int SetPoweredProperty(const BusValue& value, sd_bus_error* error);

    void ClientLeft(const std::string& client);
    void SessionsChanged(bool wasDiscovering);
    void Scan();
    Device& EnsureDevice(const std::shared_ptr<Peer>& peer);
    void DestroyDevice(Device& device);

    SimContext& context_;
    bool powered_;
    std::string alias_;
    std::map<std::string, Client> sessions_;       // discovering clients
    std::map<std::string, Client> presetFilters_;  // filters set before StartDiscovery
    std::vector<std::unique_ptr<Device>> devices_;
    const std::vector<std::shared_ptr<Peer>>& world_;  // the peers in the air
    Timer scanTimer_;
    int watchToken_ = 0;
};

}  // namespace QeltSim
