#include "Adapter.h"

#include <algorithm>

namespace QeltSim {

namespace {

constexpr const char* kAdapter = "org.bluez.Adapter1";
constexpr const char* kAddress = "00:1A:7D:DA:71:13";
constexpr const char* kName = "qeltble-sim";
constexpr uint32_t kClass = 0x7C010C;
// First advertisements arrive shortly after discovery starts.
constexpr uint64_t kFirstScanUsec = 80'000;

}  // namespace

Adapter::Adapter(SimContext& context, bool powered, const std::vector<std::shared_ptr<Peer>>& world)
    : context_(context), powered_(powered), world_(world), scanTimer_(context.event) {
    ObjectTree& tree = context_.tree;
    tree.AddObject(kPath);
    DeclareProperties();
    tree.Announce(kPath);
    for (const auto& peer : world_) {
        PeerAdded(peer);
    }
    watchToken_ =
        context_.clients.Listen([this](const std::string& client) { ClientLeft(client); });
}

Adapter::~Adapter() {
    context_.clients.Unlisten(watchToken_);
    scanTimer_.Cancel();
    devices_.clear();
    context_.tree.RemoveSubtree(kPath);
}

void Adapter::DeclareProperties() {
    ObjectTree& tree = context_.tree;
    tree.AddInterface(kPath, kAdapter);
    auto declare = [&](const char* name, const char* signature, std::optional<BusValue> value,
                       PropertySetter setter = nullptr) {
        tree.DeclareProperty(kPath, kAdapter, name, signature, std::move(value), std::move(setter));
    };
    declare("Address", "s", std::string(kAddress));
    declare("AddressType", "s", std::string("public"));
    declare("Name", "s", std::string(kName));
    declare("Alias", "s", std::string(kName), [this](const BusValue& value, sd_bus_error*) {
        alias_ = std::get<std::string>(value);
        context_.tree.Set(kPath, kAdapter, "Alias", alias_.empty() ? std::string(kName) : alias_);
        return 0;
    });
    declare("Class", "u", powered_ ? kClass : 0u);
    declare("Powered", "b", powered_, [this](const BusValue& value, sd_bus_error* error) {
        return SetPoweredProperty(value, error);
    });
    declare("Discoverable", "b", false, [this](const BusValue& value, sd_bus_error* error) {
        if (!powered_) {
            return sd_bus_error_set(error, "org.bluez.Error.NotReady", "Resource Not Ready");
        }
        context_.tree.Set(kPath, kAdapter, "Discoverable", value);
        return 0;
    });
    declare("DiscoverableTimeout", "u", 180u, [this](const BusValue& value, sd_bus_error*) {
        context_.tree.Set(kPath, kAdapter, "DiscoverableTimeout", value);
        return 0;
    });
    declare("Pairable", "b", false, [this](const BusValue& value, sd_bus_error*) {
        context_.tree.Set(kPath, kAdapter, "Pairable", value);
        return 0;
    });
    declare("PairableTimeout", "u", 0u, [this](const BusValue& value, sd_bus_error*) {
        context_.tree.Set(kPath, kAdapter, "PairableTimeout", value);
        return 0;
    });
    declare("Discovering", "b", false);
    declare("UUIDs", "as",
            std::vector<std::string>{
                "00001801-0000-1000-8000-00805f9b34fb", "0000180a-0000-1000-8000-00805f9b34fb",
                "0000110e-0000-1000-8000-00805f9b34fb", "00001200-0000-1000-8000-00805f9b34fb",
                "00001800-0000-1000-8000-00805f9b34fb"});
    declare("Modalias", "s", std::string("usb:v1D6Bp0246d0542"));
    declare("Roles", "as", std::vector<std::string>{"central", "peripheral"});

    tree.AddMethod(kPath, kAdapter, "StartDiscovery",
                   {"", "", [this](sd_bus_message* m) { return StartDiscovery(m); }});
    tree.AddMethod(kPath, kAdapter, "StopDiscovery",
                   {"", "", [this](sd_bus_message* m) { return StopDiscovery(m); }});
    tree.AddMethod(kPath, kAdapter, "SetDiscoveryFilter",
                   {"a{sv}", "", [this](sd_bus_message* m) { return SetDiscoveryFilter(m); }});
    tree.AddMethod(kPath, kAdapter, "GetDiscoveryFilters",
                   {"", "as", [this](sd_bus_message* m) { return GetDiscoveryFilters(m); }});
    tree.AddMethod(kPath, kAdapter, "RemoveDevice",
                   {"o", "", [this](sd_bus_message* m) { return RemoveDevice(m); }});
}

int Adapter::SetPoweredProperty(const BusValue& value, sd_bus_error* /*error*/) {
    SetPowered(std::get<bool>(value));
    return 0;
}

void Adapter::SetPowered(bool powered) {
    if (powered == powered_) {
        return;
    }
    powered_ = powered;
    ObjectTree& tree = context_.tree;
    if (powered_) {
        tree.SetMany(kPath, kAdapter, {{"Class", BusValue(kClass)}, {"Powered", BusValue(true)}});
        return;
    }
    // Powering down ends every discovery session and every link.
    const bool wasDiscovering = Discovering();
    sessions_.clear();
    presetFilters_.clear();
    scanTimer_.Cancel();
    if (wasDiscovering) {
        for (auto& device : devices_) {
            device->DiscoveryStopped();
        }
    }
    for (auto& device : devices_) {
        device->AdapterPoweredOff();
    }
    tree.SetMany(
        kPath, kAdapter,
        {{"Discovering", BusValue(false)}, {"Class", BusValue(0u)}, {"Powered", BusValue(false)}});
}

int Adapter::StartDiscovery(sd_bus_message* call) {
    if (!powered_) {
        return ReplyError(call, "org.bluez.Error.NotReady", "Resource Not Ready");
    }
    const std::string client = sd_bus_message_get_sender(call);
    if (sessions_.count(client) != 0) {
        return ReplyError(call, "org.bluez.Error.InProgress", "Operation already in progress");
    }
    const bool wasDiscovering = Discovering();
    Client session;
    const auto preset = presetFilters_.find(client);
    if (preset != presetFilters_.end()) {
        session = preset->second;
        presetFilters_.erase(preset);
    }
    session.discovering = true;
    sessions_[client] = session;
    sd_bus_reply_method_return(call, "");
    SessionsChanged(wasDiscovering);
    return 1;
}

int Adapter::StopDiscovery(sd_bus_message* call) {
    if (!powered_) {
        return ReplyError(call, "org.bluez.Error.NotReady", "Resource Not Ready");
    }
    const std::string client = sd_bus_message_get_sender(call);
    const auto it = sessions_.find(client);
    if (it == sessions_.end()) {
        return ReplyError(call, "org.bluez.Error.Failed", "No discovery started");
    }
    const bool wasDiscovering = Discovering();
    sessions_.erase(it);
    sd_bus_reply_method_return(call, "");
    SessionsChanged(wasDiscovering);
    return 1;
}

int Adapter::SetDiscoveryFilter(sd_bus_message* call) {
    if (!powered_) {
        return ReplyError(call, "org.bluez.Error.NotReady", "Resource Not Ready");
    }
    PropertyDict dict;
    std::optional<DiscoveryFilter> filter;
    if (ReadDict(call, dict) < 0 || !DiscoveryFilter::Parse(dict, filter)) {
        return ReplyError(call, "org.bluez.Error.InvalidArguments",
                          "Invalid arguments in method call");
    }
    const std::string client = sd_bus_message_get_sender(call);
    const auto session = sessions_.find(client);
    if (session != sessions_.end()) {
        session->second.filter = filter;
    } else if (filter) {
        presetFilters_[client].filter = filter;
    } else {
        presetFilters_.erase(client);
    }
    sd_bus_reply_method_return(call, "");
    return 1;
}

int Adapter::GetDiscoveryFilters(sd_bus_message* call) {
    sd_bus_message* raw = nullptr;
    if (sd_bus_message_new_method_return(call, &raw) < 0) {
        return -ENOMEM;
    }
    MessagePtr reply(raw);
    AppendValue(raw, DiscoveryFilterKeys());
    sd_bus_send(context_.tree.Bus(), raw, nullptr);
    return 1;
}

int Adapter::RemoveDevice(sd_bus_message* call) {
    const char* path = nullptr;
    sd_bus_message_read(call, "o", &path);
    const auto it = std::find_if(devices_.begin(), devices_.end(),
                                 [path](const auto& device) { return device->Path() == path; });
    if (it == devices_.end()) {
        return ReplyError(call, "org.bluez.Error.DoesNotExist", "Does Not Exist");
    }
    if (!powered_) {
        return ReplyError(call, "org.bluez.Error.NotReady", "Resource Not Ready");
    }
    Device& device = **it;
    if (device.Connected()) {
        // Removed once the link is down, after BlueZ's disconnect timer.
        std::shared_ptr<sd_bus_message> reply(sd_bus_message_ref(call), sd_bus_message_unref);
        device.RequestDisconnect(MessagePtr(), [this, &device, reply] {
            sd_bus_reply_method_return(reply.get(), "");
            DestroyDevice(device);
        });
        return 1;
    }
    sd_bus_reply_method_return(call, "");
    DestroyDevice(device);
    return 1;
}

void Adapter::ClientLeft(const std::string& client) {
    presetFilters_.erase(client);
    const auto it = sessions_.find(client);
    if (it == sessions_.end()) {
        return;
    }
    const bool wasDiscovering = Discovering();
    sessions_.erase(it);
    SessionsChanged(wasDiscovering);
}

void Adapter::SessionsChanged(bool wasDiscovering) {
    const bool discovering = Discovering();
    if (discovering && !wasDiscovering) {
        context_.tree.Set(kPath, kAdapter, "Discovering", true);
        scanTimer_.Start(kFirstScanUsec, [this] { Scan(); });
    } else if (!discovering && wasDiscovering) {
        scanTimer_.Cancel();
        for (auto& device : devices_) {
            device->DiscoveryStopped();
        }
        context_.tree.Set(kPath, kAdapter, "Discovering", false);
    }
}

void Adapter::Scan() {
    for (const auto& peer : world_) {
        if (!peer->Advertising()) {
            continue;
        }
        const int16_t rssi = peer->HeardRssi(context_.random);
        const bool wanted = std::any_of(sessions_.begin(), sessions_.end(), [&](const auto& s) {
            return !s.second.filter || s.second.filter->Passes(peer->Config(), rssi);
        });
        if (wanted) {
            EnsureDevice(peer).Heard(rssi);
        }
    }
    scanTimer_.Start(context_.timings.scanIntervalUsec, [this] { Scan(); });
}

void Adapter::PeerAdded(const std::shared_ptr<Peer>& peer) {
    if (peer->Config().remembered || peer->Config().paired || peer->Config().trusted) {
        EnsureDevice(peer).Announce();
    }
}

void Adapter::PeerPowerChanged(Peer& peer) {
    Device* device = FindDevice(peer);
    if (device != nullptr) {
        device->PeerPowerChanged();
    }
}

Device* Adapter::FindDevice(const Peer& peer) {
    for (auto& device : devices_) {
        if (&device->GetPeer() == &peer) {
            return device.get();
        }
    }
    return nullptr;
}

Device& Adapter::EnsureDevice(const std::shared_ptr<Peer>& peer) {
    if (Device* device = FindDevice(*peer)) {
        return *device;
    }
    devices_.push_back(std::make_unique<Device>(
        context_, kPath, peer, *this, [this](Device& expired) { DestroyDevice(expired); }));
    return *devices_.back();
}

void Adapter::DestroyDevice(Device& device) {
    const auto it = std::find_if(devices_.begin(), devices_.end(),
                                 [&device](const auto& d) { return d.get() == &device; });
    if (it != devices_.end()) {
        // Keep the object alive until this call's frames have unwound.
        std::unique_ptr<Device> doomed = std::move(*it);
        devices_.erase(it);
    }
}

}  // namespace QeltSim
