#include "bluez/BlueZBleScanner.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "api/ApiException.h"
#include "bluez/BlueZNames.h"
#include "bluez/CallNoArg.h"
#include "bluez/DeviceName.h"
#include "bluez/ManagedObjects.h"
#include "bluez/ScannerSignals.h"
#include "bluez/SerialNumberShape.h"
#include "qeltble.h"

namespace Qelt::BLE {

using BlueZUtil::BlueZConnection;
using BlueZUtil::CallbackDispatcher;

namespace {

constexpr std::size_t kAnnouncedNameLength = QELTBLE_DEVICENAME_LENGTH_MAX - 1;

// False also when the property cannot be read.
bool IsPowered(sd_bus* bus, const std::string& adapterPath) {
    BlueZUtil::BusError error;
    int powered = 0;
    const int result = sd_bus_get_property_trivial(
        bus, BlueZUtil::kBlueZService, adapterPath.c_str(), BlueZUtil::kAdapterInterface,
        BlueZUtil::kPoweredProperty, error.Get(), 'b', &powered);
    return result >= 0 && powered != 0;
}

// Asks for low-energy devices only. Failures are ignored: discovery works
// without the filter.
void SetLowEnergyDiscoveryFilter(sd_bus* bus, const std::string& adapterPath) {
    sd_bus_message* rawCall = nullptr;
    if (sd_bus_message_new_method_call(bus, &rawCall, BlueZUtil::kBlueZService, adapterPath.c_str(),
                                       BlueZUtil::kAdapterInterface,
                                       BlueZUtil::kSetDiscoveryFilter) < 0) {
        return;
    }
    BlueZUtil::MessagePtr call(rawCall);
    if (sd_bus_message_append(call.get(), "a{sv}", 1, BlueZUtil::kTransportOption, "s",
                              BlueZUtil::kTransportLowEnergy) < 0) {
        return;
    }
    BlueZUtil::BusError error;
    sd_bus_message* rawReply = nullptr;
    sd_bus_call(bus, call.get(), BlueZUtil::kAdapterCallTimeoutUs, error.Get(), &rawReply);
    BlueZUtil::MessagePtr reply(rawReply);
}

void StopDiscovery(sd_bus* bus, const std::string& adapterPath) {
    BlueZUtil::CallNoArg(bus, adapterPath, BlueZUtil::kAdapterInterface, BlueZUtil::kStopDiscovery,
                         BlueZUtil::kAdapterCallTimeoutUs, QELTBLE_ERROR_BLUETOOTH_UNAVAILABLE,
                         true);
}

// The name of the object's device interface; empty when it is no device.
std::string NameOfDevice(const BlueZUtil::ObjEntry& object) {
    const auto device = object.interfaces.find(BlueZUtil::kDeviceInterface);
    return device != object.interfaces.end() ? BlueZUtil::DeviceName(device->second)
                                             : std::string();
}

}  // namespace

BlueZBleScanner& BlueZBleScanner::GetInstance() {
    static BlueZBleScanner instance;
    return instance;
}

BlueZBleScanner::BlueZBleScanner()
    : dispatcher_(std::make_unique<CallbackDispatcher>()),
      connection_(std::make_shared<BlueZConnection>()) {
    // On failure the members unwind: the connection first (its worker ends),
    // then the dispatcher, then any subscription made so far.
    connection_->Execute([this](sd_bus* bus) { SetUp(bus); });
}

BlueZBleScanner::~BlueZBleScanner() {
    {
        std::lock_guard lock(listMutex_);
        devices_.clear();
        onDeviceDiscovered_ = nullptr;
        onDeviceListChanged_ = nullptr;
        nameFilter_ = nullptr;
    }
    dispatcher_->Stop();
    std::shared_ptr<BlueZConnection> connection;
    {
        std::lock_guard lock(connectionMutex_);
        connection.swap(connection_);
    }
    connection.reset();
    ReleaseSubscriptions();  // the worker has ended
}

void BlueZBleScanner::SetUp(sd_bus* bus) {
    const std::vector<BlueZUtil::ObjEntry> objects = BlueZUtil::GetManagedObjects(bus);
    const auto adapter = std::find_if(
        objects.begin(), objects.end(),
        [](const BlueZUtil::ObjEntry& object) { return object.Has(BlueZUtil::kAdapterInterface); });
    if (adapter == objects.end()) {
        throw ApiException(kNoAdapterMessage, QELTBLE_ERROR_BLUETOOTH_UNAVAILABLE);
    }
    if (!IsPowered(bus, adapter->path)) {
        throw ApiException(kAdapterNotEnabledMessage, QELTBLE_ERROR_BLUETOOTH_UNAVAILABLE);
    }
    adapterPath_ = adapter->path;
    Subscribe(bus);
}

void BlueZBleScanner::Subscribe(sd_bus* bus) {
    sd_bus_slot* slot = nullptr;
    if (sd_bus_match_signal(bus, &slot, BlueZUtil::kBlueZService, BlueZUtil::kRootPath,
                            BlueZUtil::kObjectManagerInterface, BlueZUtil::kInterfacesAdded,
                            OnInterfacesAddedSignal, this) < 0) {
        throw ApiException(kDeviceSubscriptionFailedMessage, QELTBLE_ERROR_BLUETOOTH_UNAVAILABLE);
    }
    interfacesAddedSlot_.reset(slot);
    slot = nullptr;
    if (sd_bus_add_match(bus, &slot, BlueZUtil::kDevicePropertiesChangedMatch,
                         OnDevicePropertiesChangedSignal, this) < 0) {
        throw ApiException(kPropertySubscriptionFailedMessage, QELTBLE_ERROR_BLUETOOTH_UNAVAILABLE);
    }
    propertiesChangedSlot_.reset(slot);
}

void BlueZBleScanner::ReleaseSubscriptions() {
    interfacesAddedSlot_.reset();
    propertiesChangedSlot_.reset();
}

std::shared_ptr<BlueZConnection> BlueZBleScanner::Connection() const {
    std::lock_guard lock(connectionMutex_);
    return connection_;
}

void BlueZBleScanner::StartScanning() {
    const std::shared_ptr<BlueZConnection> connection = Connection();
    if (!connection) {
        return;
    }
    connection->Execute([this](sd_bus* bus) { Start(bus); });
    scanning_ = true;
    PostAnnouncement();
}

void BlueZBleScanner::Start(sd_bus* bus) {
    if (!IsPowered(bus, adapterPath_)) {
        throw ApiException(kAdapterNotPoweredMessage, QELTBLE_ERROR_BLUETOOTH_UNAVAILABLE);
    }
    SetLowEnergyDiscoveryFilter(bus, adapterPath_);
    // Fails harmlessly when discovery is already running.
    BlueZUtil::CallNoArg(bus, adapterPath_, BlueZUtil::kAdapterInterface,
                         BlueZUtil::kStartDiscovery, BlueZUtil::kAdapterCallTimeoutUs,
                         QELTBLE_ERROR_BLUETOOTH_UNAVAILABLE, true);
    // Devices BlueZ already knows, also remembered ones that are silent now.
    for (const BlueZUtil::ObjEntry& object : BlueZUtil::GetManagedObjects(bus)) {
        if (object.Has(BlueZUtil::kDeviceInterface)) {
            OnDeviceFound(NameOfDevice(object), object.path, true);
        }
    }
}

void BlueZBleScanner::StopScanning() {
    const std::shared_ptr<BlueZConnection> connection = Connection();
    if (!connection) {
        return;
    }
    connection->Execute([this](sd_bus* bus) { StopDiscovery(bus, adapterPath_); });
    scanning_ = false;
}

bool BlueZBleScanner::IsScanning() const {
    return Connection() != nullptr && scanning_;
}

void BlueZBleScanner::Shutdown() {
    if (dispatcher_->IsDispatcherThread()) {
        // Stopping the dispatcher would wait for the very callback running it.
        throw ApiException(kShutdownFromCallbackMessage, QELTBLE_ERROR_GENERAL);
    }
    if (shutDown_.exchange(true)) {
        return;
    }
    if (const std::shared_ptr<BlueZConnection> connection = Connection()) {
        try {
            connection->Execute([this](sd_bus* bus) {
                StopDiscovery(bus, adapterPath_);
                ReleaseSubscriptions();
            });
        } catch (const std::exception&) {
            // The connection is lost and its worker has ended; the
            // subscriptions are released below.
        }
    }
    dispatcher_->Stop();
    {
        std::lock_guard lock(listMutex_);
        devices_.clear();
        onDeviceDiscovered_ = nullptr;
        onDeviceListChanged_ = nullptr;
    }
    scanning_ = false;
    std::shared_ptr<BlueZConnection> connection;
    {
        std::lock_guard lock(connectionMutex_);
        connection.swap(connection_);
    }
    connection.reset();
    ReleaseSubscriptions();
}

void BlueZBleScanner::RegisterDeviceDiscoveredCallback(
    QELTBLE_DEVICE_DISCOVERED_CALLBACK callback) {
    std::lock_guard lock(listMutex_);
    onDeviceDiscovered_ = callback;
}

void BlueZBleScanner::RegisterDeviceListChangedCallback(
    QELTBLE_DEVICE_LIST_CHANGED_CALLBACK callback) {
    std::lock_guard lock(listMutex_);
    onDeviceListChanged_ = callback;
}

uint32_t BlueZBleScanner::GetDiscoveredDeviceCount() {
    std::lock_guard lock(listMutex_);
    return static_cast<uint32_t>(devices_.size());
}

int32_t BlueZBleScanner::GetDiscoveredDeviceName(uint32_t index, char* buffer, uint32_t length) {
    if (buffer == nullptr || length == 0) {
        return QELTBLE_ERROR_INVALID_ARGUMENT;
    }
    std::lock_guard lock(listMutex_);
    if (index >= devices_.size()) {
        return QELTBLE_ERROR_INVALID_ARGUMENT;
    }
    const std::string& name = devices_[index].name;
    const std::size_t copied = std::min<std::size_t>(name.size(), length - 1);
    std::memcpy(buffer, name.data(), copied);
    buffer[copied] = '\0';
    return 0;
}

void BlueZBleScanner::SetDeviceNameFilter(std::function<bool(const std::string&)> filter) {
    std::lock_guard lock(listMutex_);
    nameFilter_ = std::move(filter);
}

bool BlueZBleScanner::ResolveLiveObjectPath(const std::string& name, std::string& objectPath) {
    const std::shared_ptr<BlueZConnection> connection = Connection();
    if (!connection || name.empty()) {
        return false;
    }
    std::string found;
    connection->Execute([&](sd_bus* bus) {
        for (const BlueZUtil::ObjEntry& object : BlueZUtil::GetManagedObjects(bus)) {
            if (object.Has(BlueZUtil::kDeviceInterface) && NameOfDevice(object) == name) {
                found = object.path;
                return;
            }
        }
    });
    if (found.empty()) {
        return false;
    }
    objectPath = std::move(found);
    return true;
}

bool BlueZBleScanner::FindObjectPath(const std::string& name, std::string& objectPath, bool& live) {
    std::lock_guard lock(listMutex_);
    for (const DiscoveredDevice& device : devices_) {
        if (device.name == name) {
            objectPath = device.objectPath;
            live = device.live;
            return true;
        }
    }
    return false;
}

bool BlueZBleScanner::OnDeviceFound(const std::string& name, const std::string& objectPath,
                                    bool live) {
    if (name.empty() || objectPath.empty()) {
        return false;
    }
    const auto now = std::chrono::steady_clock::now();
    {
        std::lock_guard lock(listMutex_);
        if (shutDown_) {
            return false;
        }
        for (DiscoveredDevice& device : devices_) {
            if (device.name == name) {
                device.lastSeen = now;
                device.objectPath = objectPath;
                device.live = live;
                return false;
            }
        }
        if (!Accepts(name)) {
            return false;
        }
        devices_.push_back(DiscoveredDevice{name, objectPath, live, now});
    }
    PostAnnouncement();
    return true;
}

bool BlueZBleScanner::Accepts(const std::string& name) const {
    return nameFilter_ ? nameFilter_(name) : HasSerialNumberShape(name);
}

void BlueZBleScanner::OnInterfacesAdded(const BlueZUtil::ObjEntry& entry) {
    if (entry.Has(BlueZUtil::kDeviceInterface)) {
        OnDeviceFound(NameOfDevice(entry), entry.path, true);
    }
}

void BlueZBleScanner::OnDevicePropertiesChanged(const std::string& objectPath,
                                                const std::string& name) {
    OnDeviceFound(name, objectPath, true);
}

void BlueZBleScanner::PostAnnouncement() {
    dispatcher_->Post([this] { AnnounceDevices(); });
}

void BlueZBleScanner::AnnounceDevices() {
    std::vector<std::string> names;
    QELTBLE_DEVICE_DISCOVERED_CALLBACK onDiscovered = nullptr;
    QELTBLE_DEVICE_LIST_CHANGED_CALLBACK onListChanged = nullptr;
    {
        std::lock_guard lock(listMutex_);
        if (devices_.empty()) {
            return;
        }
        names.reserve(devices_.size());
        for (const DiscoveredDevice& device : devices_) {
            names.push_back(device.name);
        }
        onDiscovered = onDeviceDiscovered_;
        onListChanged = onDeviceListChanged_;
    }
    const auto count = static_cast<uint32_t>(names.size());
    if (onListChanged != nullptr) {
        onListChanged(count);
    }
    if (onDiscovered != nullptr) {
        // Zeroed slots: every name ends in a NUL, cut to 14 characters.
        auto slots = std::make_unique<char[][QELTBLE_DEVICENAME_LENGTH_MAX]>(count);
        for (uint32_t i = 0; i < count; ++i) {
            const std::string& name = names[i];
            std::memcpy(slots[i], name.data(), std::min(name.size(), kAnnouncedNameLength));
        }
        onDiscovered(slots.get(), count);
    }
}

}  // namespace Qelt::BLE
