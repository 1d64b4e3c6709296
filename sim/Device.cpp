#include "Device.h"

#include <algorithm>
#include <cstdlib>

#include "Adapter.h"

namespace QeltSim {

namespace {

constexpr const char* kDevice = "org.bluez.Device1";

std::map<uint16_t, Bytes> ManufacturerData(const PeerConfig& config) {
    return std::map<uint16_t, Bytes>(config.manufacturerData.begin(),
                                     config.manufacturerData.end());
}

std::map<std::string, Bytes> ServiceData(const PeerConfig& config) {
    return std::map<std::string, Bytes>(config.serviceData.begin(), config.serviceData.end());
}

}  // namespace

std::string Device::PathFor(const std::string& adapterPath, const std::string& address) {
    std::string path = adapterPath + "/dev_" + address;
    for (size_t i = adapterPath.size(); i < path.size(); ++i) {
        if (path[i] == ':') {
            path[i] = '_';
        }
    }
    return path;
}

Device::Device(SimContext& context, const std::string& adapterPath, std::shared_ptr<Peer> peer,
               Adapter& adapter, std::function<void(Device&)> onExpired)
    : context_(context),
      adapterPath_(adapterPath),
      path_(PathFor(adapterPath, peer->Config().address)),
      peer_(std::move(peer)),
      adapter_(adapter),
      onExpired_(std::move(onExpired)),
      temporaryTimer_(context.event),
      linkTimer_(context.event),
      disconnectTimer_(context.event),
      temporary_(!peer_->Config().remembered && !peer_->Config().paired &&
                 !peer_->Config().trusted) {
    context_.tree.AddObject(path_);
    DeclareProperties();
    DeclareMethods();
}

Device::~Device() {
    if (pendingConnect_) {
        sd_bus_reply_method_errorf(pendingConnect_.get(), "org.bluez.Error.Failed",
                                   "br-connection-canceled");
    }
    for (const auto& call : pendingDisconnects_) {
        sd_bus_reply_method_return(call.get(), "");
    }
    if (linkUp_) {
        if (gatt_ && gatt_->Linked()) {
            peer_->Detach();
        }
        peer_->SetLinked(false);
    }
    gatt_.reset();
    context_.tree.RemoveSubtree(path_);
}

std::string Device::CurrentAlias() const {
    const PeerConfig& config = peer_->Config();
    if (!alias_.empty()) {
        return alias_;
    }
    if (!config.alias.empty()) {
        return config.alias;
    }
    if (config.name && !config.name->empty()) {
        return *config.name;
    }
    std::string alias = config.address;
    for (char& c : alias) {
        if (c == ':') {
            c = '-';
        }
    }
    return alias;
}

void Device::DeclareProperties() {
    const PeerConfig& config = peer_->Config();
    ObjectTree& tree = context_.tree;
    tree.AddInterface(path_, kDevice);
    auto declare = [&](const char* name, const char* signature, std::optional<BusValue> value,
                       PropertySetter setter = nullptr) {
        tree.DeclareProperty(path_, kDevice, name, signature, std::move(value), std::move(setter));
    };
    declare("Address", "s", config.address);
    declare("AddressType", "s", config.addressType);
    declare("Name", "s",
            config.name ? std::optional<BusValue>(*config.name) : std::optional<BusValue>());
    declare("Alias", "s", CurrentAlias(), [this](const BusValue& value, sd_bus_error*) {
        alias_ = std::get<std::string>(value);
        context_.tree.Set(path_, kDevice, "Alias", CurrentAlias());
        return 0;
    });
    declare("Class", "u",
            config.deviceClass ? std::optional<BusValue>(*config.deviceClass) : std::nullopt);
    declare("Appearance", "q",
            config.appearance ? std::optional<BusValue>(*config.appearance) : std::nullopt);
    declare("Icon", "s", config.icon.empty() ? std::nullopt : std::optional<BusValue>(config.icon));
    declare("Paired", "b", config.paired);
    declare("Bonded", "b", config.paired);
    declare("Trusted", "b", config.trusted, [this](const BusValue& value, sd_bus_error*) {
        const bool trusted = std::get<bool>(value);
        context_.tree.Set(path_, kDevice, "Trusted", trusted);
        if (trusted) {
            SetTemporary(false);
        }
        return 0;
    });
    declare("Blocked", "b", false, [this](const BusValue& value, sd_bus_error*) {
        context_.tree.Set(path_, kDevice, "Blocked", std::get<bool>(value));
        return 0;
    });
    declare("LegacyPairing", "b", false);
    declare("RSSI", "n", std::nullopt);
    declare("Connected", "b", false);
    declare("UUIDs", "as", config.uuids);
    declare("Modalias", "s", std::nullopt);
    declare("Adapter", "o", ObjectPath{adapterPath_});
    declare("ManufacturerData", "a{qv}", std::nullopt);
    declare("ServiceData", "a{sv}", std::nullopt);
    declare("TxPower", "n", std::nullopt);
    declare("ServicesResolved", "b", false);
    if (!config.remembered) {
        // Known only from advertisements: BlueZ keeps no advertising data of
        // remembered devices until it hears them again.
        if (!config.manufacturerData.empty()) {
            tree.Set(path_, kDevice, "ManufacturerData", ManufacturerData(config));
        }
        if (!config.serviceData.empty()) {
            tree.Set(path_, kDevice, "ServiceData", ServiceData(config));
        }
    }
}

void Device::Announce() {
    context_.tree.Announce(path_);
}

void Device::Heard(int16_t rssi) {
    const PeerConfig& config = peer_->Config();
    ObjectTree& tree = context_.tree;
    std::vector<std::pair<std::string, std::optional<BusValue>>> changes;
    const BusValue* current = tree.Get(path_, kDevice, "RSSI");
    // BlueZ reports a new RSSI only when it moved by 8 dBm or more.
    if (current == nullptr || std::abs(std::get<int16_t>(*current) - rssi) >= 8) {
        changes.emplace_back("RSSI", BusValue(rssi));
    }
    if (config.txPower) {
        changes.emplace_back("TxPower", BusValue(*config.txPower));
    }
    if (!config.manufacturerData.empty()) {
        changes.emplace_back("ManufacturerData", BusValue(ManufacturerData(config)));
    }
    if (!config.serviceData.empty()) {
        changes.emplace_back("ServiceData", BusValue(ServiceData(config)));
    }
    if (config.name && tree.Get(path_, kDevice, "Name") == nullptr) {
        changes.emplace_back("Name", BusValue(*config.name));
    }
    tree.SetMany(path_, kDevice, changes);
    Announce();
    if (temporary_) {
        RestartTemporaryTimer();
    }
}

void Device::DiscoveryStopped() {
    context_.tree.SetMany(path_, kDevice, {{"RSSI", std::nullopt}, {"TxPower", std::nullopt}});
}

void Device::SetTemporary(bool temporary) {
    if (temporary_ == temporary) {
        return;
    }
    temporary_ = temporary;
    if (temporary_) {
        RestartTemporaryTimer();
    } else {
        temporaryTimer_.Cancel();
    }
}

void Device::RestartTemporaryTimer() {
    temporaryTimer_.Start(context_.timings.temporaryTimeoutUsec, [this] {
        const BusValue* connected = context_.tree.Get(path_, kDevice, "Connected");
        if (temporary_ && !(connected && std::get<bool>(*connected))) {
            // Copy: the call destroys this object, and with it the member.
            const auto expired = onExpired_;
            expired(*this);
        }
    });
}

void Device::DeclareMethods() {
    ObjectTree& tree = context_.tree;
    tree.AddMethod(path_, kDevice, "Connect",
                   {"", "", [this](sd_bus_message* m) { return Connect(m); }});
    tree.AddMethod(path_, kDevice, "Disconnect",
                   {"", "", [this](sd_bus_message* m) { return Disconnect(m); }});
    tree.AddMethod(path_, kDevice, "Pair", {"", "", [this](sd_bus_message* m) { return Pair(m); }});
    tree.AddMethod(path_, kDevice, "CancelPairing",
                   {"", "", [this](sd_bus_message* m) { return CancelPairing(m); }});
    tree.AddMethod(path_, kDevice, "ConnectProfile", {"s", "", [](sd_bus_message* m) {
                                                          return ReplyError(
                                                              m, "org.bluez.Error.NotAvailable",
                                                              "Operation currently not available");
                                                      }});
    tree.AddMethod(path_, kDevice, "DisconnectProfile",
                   {"s", "", [](sd_bus_message* m) {
                        return ReplyError(m, "org.bluez.Error.NotAvailable",
                                          "Operation currently not available");
                    }});
}

int Device::Connect(sd_bus_message* call) {
    if (linkUp_) {
        sd_bus_reply_method_return(call, "");
        return 1;
    }
    if (!adapter_.Powered()) {
        return ReplyError(call, "org.bluez.Error.NotReady", "Resource Not Ready");
    }
    if (pendingConnect_) {
        return ReplyError(call, "org.bluez.Error.Failed", "Operation already in progress");
    }
    // A device that is connected to on purpose is kept.
    SetTemporary(false);
    pendingConnect_ = RefMessage(call);
    TryEstablish();
    return 1;
}

void Device::TryEstablish() {
    // An LE connection is made when the peripheral is heard advertising;
    // until then the call waits, bounded only by the caller's time-out.
    if (!pendingConnect_ || !peer_->Advertising() || linkTimer_.Pending()) {
        return;
    }
    linkTimer_.Start(context_.timings.connectDelayUsec, [this] {
        if (!pendingConnect_ || !peer_->Advertising() || !adapter_.Powered()) {
            return;
        }
        LinkFaults& faults = peer_->Config().amplifier.faults;
        if (faults.connectFailures > 0) {
            --faults.connectFailures;
            // The link comes up and is torn down again during set-up.
            context_.tree.Set(path_, kDevice, "Connected", true);
            context_.tree.Set(path_, kDevice, "Connected", false);
            FinishConnect(faults.connectErrorName.c_str(), faults.connectErrorMessage);
            return;
        }
        LinkEstablished();
    });
}

void Device::LinkEstablished() {
    linkUp_ = true;
    peer_->SetLinked(true);
    context_.tree.Set(path_, kDevice, "Connected", true);
    FinishConnect(nullptr, "");
    if (peer_->Config().amplifier.faults.servicesNeverResolve) {
        return;
    }
    linkTimer_.Start(context_.timings.resolveDelayUsec, [this] { ServicesDiscovered(); });
}

void Device::ServicesDiscovered() {
    if (!linkUp_) {
        return;
    }
    if (peer_->Config().amplifier.faults.resolvedBeforeObjects) {
        context_.tree.Set(path_, kDevice, "ServicesResolved", true);
        ExportServices();
        return;
    }
    ExportServices();
    context_.tree.Set(path_, kDevice, "ServicesResolved", true);
}

void Device::ExportServices() {
    const GattProfile profile = peer_->BuildProfile();
    if (gatt_ && !gatt_->SameLayout(profile)) {
        // The peripheral's database changed since it was cached.
        gatt_.reset();
    }
    if (!gatt_) {
        gatt_ = std::make_unique<GattDatabase>(context_, path_, profile, peer_->Mtu());
    } else {
        gatt_->Bind(profile);
    }
    gatt_->Announce();
    std::vector<std::string> uuids;
    for (const auto& service : profile) {
        if (service.primary) {
            uuids.push_back(service.uuid);
        }
    }
    std::sort(uuids.begin(), uuids.end());
    context_.tree.Set(path_, kDevice, "UUIDs", uuids);
    peer_->Attach(*gatt_);
    gatt_->LinkUp();
}

void Device::FinishConnect(const char* errorName, const std::string& errorMessage) {
    if (!pendingConnect_) {
        return;
    }
    MessagePtr call = std::move(pendingConnect_);
    if (errorName != nullptr) {
        sd_bus_reply_method_errorf(call.get(), errorName, "%s", errorMessage.c_str());
    } else {
        sd_bus_reply_method_return(call.get(), "");
    }
}

int Device::Disconnect(sd_bus_message* call) {
    RequestDisconnect(RefMessage(call));
    return 1;
}

void Device::RequestDisconnect(MessagePtr call, std::function<void()> done) {
    if (pendingConnect_) {
        linkTimer_.Cancel();
        FinishConnect("org.bluez.Error.Failed", "br-connection-canceled");
    }
    if (!linkUp_) {
        if (call) {
            sd_bus_reply_method_return(call.get(), "");
        }
        if (done) {
            done();
        }
        return;
    }
    if (call) {
        pendingDisconnects_.push_back(std::move(call));
    }
    if (done) {
        afterDisconnect_.push_back(std::move(done));
    }
    if (!disconnectTimer_.Pending()) {
        disconnectTimer_.Start(context_.timings.disconnectDelayUsec, [this] { LinkLost(); });
    }
}

void Device::LinkLost() {
    if (!linkUp_) {
        return;
    }
    linkUp_ = false;
    linkTimer_.Cancel();
    disconnectTimer_.Cancel();
    if (gatt_ && gatt_->Linked()) {
        peer_->Detach();
        gatt_->LinkDown();
    }
    peer_->SetLinked(false);
    // As BlueZ: the callers of Disconnect are answered first, then the
    // change is signalled (clients close their bus on Connected=false).
    auto disconnects = std::move(pendingDisconnects_);
    pendingDisconnects_.clear();
    for (const auto& disconnect : disconnects) {
        sd_bus_reply_method_return(disconnect.get(), "");
    }
    context_.tree.SetMany(path_, kDevice,
                          {{"Connected", BusValue(false)}, {"ServicesResolved", BusValue(false)}});
    auto actions = std::move(afterDisconnect_);
    afterDisconnect_.clear();
    // An action may destroy this object (RemoveDevice): run them last.
    for (const auto& action : actions) {
        action();
    }
}

void Device::PeerPowerChanged() {
    if (peer_->PoweredOn()) {
        TryEstablish();
        return;
    }
    // Switched off: a link drops as a remote disconnect; a pending Connect
    // keeps waiting for the peer to advertise again.
    linkTimer_.Cancel();
    LinkLost();
}

void Device::AdapterPoweredOff() {
    linkTimer_.Cancel();
    FinishConnect("org.bluez.Error.Failed", "Resource Not Ready");
    LinkLost();
}

int Device::Pair(sd_bus_message* call) {
    const BusValue* paired = context_.tree.Get(path_, kDevice, "Paired");
    if (paired && std::get<bool>(*paired)) {
        return ReplyError(call, "org.bluez.Error.AlreadyExists", "Already Exists");
    }
    if (!linkUp_ && !peer_->Advertising()) {
        return ReplyError(call, "org.bluez.Error.ConnectionAttemptFailed", "Page Timeout");
    }
    SetTemporary(false);
    context_.tree.SetMany(path_, kDevice, {{"Paired", BusValue(true)}, {"Bonded", BusValue(true)}});
    sd_bus_reply_method_return(call, "");
    return 1;
}

int Device::CancelPairing(sd_bus_message* call) {
    return ReplyError(call, "org.bluez.Error.DoesNotExist", "Does Not Exist");
}

}  // namespace QeltSim
