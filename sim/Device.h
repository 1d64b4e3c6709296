// BlueZ's Device1 object for one peer, below the adapter: its properties as
// BlueZ 5.66 keeps them, how hearing an advertisement refreshes them, and the
// temporary timer that removes a device nobody needs any more.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "GattDatabase.h"
#include "Peer.h"
#include "SimContext.h"
#include "Timer.h"

namespace QeltSim {

class Adapter;

class Device {
public:
    // `onExpired` is called when the temporary timer removes the device; the
    // adapter then destroys this object.
    Device(SimContext& context, const std::string& adapterPath, std::shared_ptr<Peer> peer,
           Adapter& adapter, std::function<void(Device&)> onExpired);
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;
    ~Device();

    const std::string& Path() const { return path_; }
    Peer& GetPeer() { return *peer_; }
    const std::shared_ptr<Peer>& PeerPtr() const { return peer_; }

    // Puts the object on the bus (InterfacesAdded) if it is not there yet.
    void Announce();
    // An advertisement of the peer was received.
    void Heard(int16_t rssi);
    // Discovery ended: RSSI and TxPower are no longer known.
    void DiscoveryStopped();

    bool Temporary() const { return temporary_; }
    void SetTemporary(bool temporary);

    bool Connected() const { return linkUp_; }
    // Drops the link after BlueZ's disconnect timer, then answers `call` (if
    // any) and runs `done`. A pending Connect is cancelled at once.
    void RequestDisconnect(MessagePtr call, std::function<void()> done = nullptr);
    // The peer was switched on or off in the simulated world.
    void PeerPowerChanged();
    // The adapter lost power: links drop, pending connections fail.
    void AdapterPoweredOff();

    static std::string PathFor(const std::string& adapterPath, const std::string& address);

private:
    // Service discovery ended: the database is exported (or its cache
    // reused) and the peer's GATT server is reachable.
    void ExportServices();

    SimContext& context_;
    const std::string adapterPath_;
    const std::string path_;
    std::shared_ptr<Peer> peer_;
    std::unique_ptr<GattDatabase> gatt_;

    int Connect(sd_bus_message* call);
    int Disconnect(sd_bus_message* call);
    int Pair(sd_bus_message* call);
    int CancelPairing(sd_bus_message* call);
    void TryEstablish();
    void LinkEstablished();
    void ServicesDiscovered();
    void LinkLost();
    void FinishConnect(const char* errorName, const std::string& errorMessage);
    void DeclareMethods();
    void DeclareProperties();
    void RestartTemporaryTimer();
    std::string CurrentAlias() const;

    Adapter& adapter_;
    std::function<void(Device&)> onExpired_;
    Timer temporaryTimer_;
    Timer linkTimer_;        // link set-up and service discovery
    Timer disconnectTimer_;  // BlueZ's disconnect timer
    MessagePtr pendingConnect_;
    std::vector<MessagePtr> pendingDisconnects_;
    std::vector<std::function<void()>> afterDisconnect_;
    bool linkUp_ = false;
    bool temporary_;
    std::string alias_;  // set through the Alias property
};

}  // namespace QeltSim
