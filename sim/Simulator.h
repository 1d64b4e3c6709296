// The simulator as a whole: the bus connection that owns org.bluez, the
// event loop, the simulated world of peers and the adapter that sees them.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Adapter.h"
#include "AgentManager.h"
#include "ClientWatch.h"
#include "Counters.h"
#include "FaultInjector.h"
#include "ObjectTree.h"
#include "Options.h"
#include "Peer.h"
#include "SdBus.h"
#include "SimContext.h"
#include "Timer.h"

namespace QeltSim {

class ControlInterface;

class Simulator {
public:
    // Connects to the system bus and builds the objects; throws
    // std::runtime_error when the bus cannot be reached.
    explicit Simulator(const Options& options);
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;
    ~Simulator();

    // Takes the bus names and runs until SIGTERM or SIGINT. Returns the exit
    // status.
    int Run();

    // The world, as the control interface changes it.
    Peer* FindPeer(const std::string& key);
    std::shared_ptr<Peer> AddPeer(const PeerConfig& config);
    bool RemovePeer(const std::string& key);
    void SetPeerPower(Peer& peer, bool on);
    // Switches the peer off now and on again after `pauseUsec`.
    void PowerCycle(Peer& peer, uint64_t pauseUsec);
    std::string DevicePathOf(const Peer& peer) const;
    // Name and device path of every amplifier in the world.
    std::vector<std::pair<std::string, std::string>> AmplifierPaths() const;

    Adapter* GetAdapter() { return adapter_.get(); }
    bool AddAdapter(bool powered);
    bool RemoveAdapter();

    SimContext& Context() { return *context_; }
    FaultInjector& Faults() { return faults_; }
    Counters& Stats() { return counters_; }

private:
    std::shared_ptr<Peer> MakePeer(const PeerConfig& config);
    static int OnSignal(sd_event_source* source, const struct signalfd_siginfo* info,
                        void* userdata);

    EventPtr event_;
    BusPtr bus_;
    Counters counters_;
    FaultInjector faults_;
    std::unique_ptr<ObjectTree> tree_;
    std::unique_ptr<ClientWatch> clients_;
    std::unique_ptr<SimContext> context_;
    std::unique_ptr<AgentManager> agents_;
    std::vector<std::shared_ptr<Peer>> world_;
    std::unique_ptr<Adapter> adapter_;
    std::unique_ptr<ControlInterface> control_;
    std::map<const Peer*, std::unique_ptr<Timer>> powerTimers_;
    EventSourcePtr sigterm_;
    EventSourcePtr sigint_;
};

}  // namespace QeltSim
