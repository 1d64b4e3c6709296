#include "Simulator.h"

#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "Amplifier.h"
#include "ControlInterface.h"

namespace QeltSim {

namespace {

constexpr const char* kBlueZName = "org.bluez";
constexpr const char* kControlName = "org.qeltble.Simulator";

}  // namespace

Simulator::Simulator(const Options& options) {
    sd_event* event = nullptr;
    if (sd_event_new(&event) < 0) {
        throw std::runtime_error("could not create the event loop");
    }
    event_.reset(event);
    sd_bus* bus = nullptr;
    int r = sd_bus_open_system(&bus);
    if (r < 0) {
        throw std::runtime_error(std::string("could not connect to the system bus: ") +
                                 std::strerror(-r));
    }
    bus_.reset(bus);
    r = sd_bus_attach_event(bus_.get(), event_.get(), SD_EVENT_PRIORITY_NORMAL);
    if (r < 0) {
        throw std::runtime_error("could not attach the bus to the event loop");
    }
    tree_ = std::make_unique<ObjectTree>(bus_.get(), counters_, faults_);
    clients_ = std::make_unique<ClientWatch>(bus_.get());
    context_ = std::make_unique<SimContext>(
        SimContext{event_.get(), *tree_, *clients_, counters_, options.timings});
    agents_ = std::make_unique<AgentManager>(*context_);
    for (const auto& config : options.peers) {
        world_.push_back(MakePeer(config));
    }
    if (options.adapter != AdapterMode::None) {
        adapter_ = std::make_unique<Adapter>(*context_, options.adapter == AdapterMode::On, world_);
    }
    control_ = std::make_unique<ControlInterface>(*this);
}

Simulator::~Simulator() {
    powerTimers_.clear();
    control_.reset();
    adapter_.reset();
    world_.clear();
    agents_.reset();
}

int Simulator::Run() {
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGINT);
    sigprocmask(SIG_BLOCK, &mask, nullptr);
    sd_event_source* source = nullptr;
    if (sd_event_add_signal(event_.get(), &source, SIGTERM, OnSignal, this) >= 0) {
        sigterm_.reset(source);
    }
    if (sd_event_add_signal(event_.get(), &source, SIGINT, OnSignal, this) >= 0) {
        sigint_.reset(source);
    }
    // The control name last: once it is owned, everything is in place.
    for (const char* name : {kBlueZName, kControlName}) {
        const int r = sd_bus_request_name(bus_.get(), name, 0);
        if (r < 0) {
            std::fprintf(stderr, "qeltble-sim: could not own %s: %s\n", name, std::strerror(-r));
            return 1;
        }
    }
    const int r = sd_event_loop(event_.get());
    return r < 0 ? 1 : 0;
}

int Simulator::OnSignal(sd_event_source* source, const struct signalfd_siginfo* /*info*/,
                        void* /*userdata*/) {
    sd_event_exit(sd_event_source_get_event(source), 0);
    return 0;
}

Peer* Simulator::FindPeer(const std::string& key) {
    for (const auto& peer : world_) {
        if (peer->Key() == key) {
            return peer.get();
        }
    }
    return nullptr;
}

std::shared_ptr<Peer> Simulator::MakePeer(const PeerConfig& config) {
    if (config.kind == PeerKind::Amplifier) {
        return std::make_shared<Amplifier>(config, *context_);
    }
    return std::make_shared<Peer>(config);
}

std::shared_ptr<Peer> Simulator::AddPeer(const PeerConfig& config) {
    auto peer = MakePeer(config);
    world_.push_back(peer);
    if (adapter_) {
        adapter_->PeerAdded(peer);
    }
    return peer;
}

bool Simulator::RemovePeer(const std::string& key) {
    const auto it = std::find_if(world_.begin(), world_.end(),
                                 [&key](const auto& peer) { return peer->Key() == key; });
    if (it == world_.end()) {
        return false;
    }
    // Gone from the air: it stops advertising and any link drops. Its
    // device object follows BlueZ's rules like that of any absent device.
    std::shared_ptr<Peer> peer = *it;
    world_.erase(it);
    SetPeerPower(*peer, false);
    return true;
}

void Simulator::SetPeerPower(Peer& peer, bool on) {
    if (peer.PoweredOn() == on) {
        return;
    }
    peer.SetPoweredOn(on);
    if (adapter_) {
        adapter_->PeerPowerChanged(peer);
    }
}

void Simulator::PowerCycle(Peer& peer, uint64_t pauseUsec) {
    SetPeerPower(peer, false);
    auto& timer = powerTimers_[&peer];
    if (!timer) {
        timer = std::make_unique<Timer>(event_.get());
    }
    // Keep the peer alive until it is switched on again.
    std::shared_ptr<Peer> keep;
    for (const auto& candidate : world_) {
        if (candidate.get() == &peer) {
            keep = candidate;
        }
    }
    timer->Start(pauseUsec, [this, keep] {
        if (keep) {
            SetPeerPower(*keep, true);
        }
    });
}

std::string Simulator::DevicePathOf(const Peer& peer) const {
    return Device::PathFor(Adapter::kPath, peer.Config().address);
}

std::vector<std::pair<std::string, std::string>> Simulator::AmplifierPaths() const {
    std::vector<std::pair<std::string, std::string>> result;
    for (const auto& peer : world_) {
        if (peer->Config().kind == PeerKind::Amplifier) {
            result.emplace_back(peer->Key(), DevicePathOf(*peer));
        }
    }
    return result;
}

bool Simulator::AddAdapter(bool powered) {
    if (adapter_) {
        return false;
    }
    adapter_ = std::make_unique<Adapter>(*context_, powered, world_);
    return true;
}

bool Simulator::RemoveAdapter() {
    if (!adapter_) {
        return false;
    }
    adapter_.reset();
    return true;
}

}  // namespace QeltSim
