#include "device/GattLink.h"

#include <chrono>
#include <utility>
#include <vector>

#include "api/ApiException.h"
#include "bluez/BlueZBleScanner.h"
#include "bluez/BlueZNames.h"
#include "bluez/CallNoArg.h"
#include "bluez/CanonicalUuid.h"
#include "bluez/ManagedObjects.h"
#include "device/LinkSignals.h"
#include "qeltble.h"

namespace Qelt::BLE {

using BlueZUtil::BusError;
using BlueZUtil::MessagePtr;
using BlueZUtil::SlotPtr;

namespace {

using Clock = std::chrono::steady_clock;
// How long a cancelling Disconnect is given to end a Connect before it is
// sent again.
constexpr std::chrono::milliseconds kCancelRetry{200};

// Scanning is only a means of finding the amplifier; failing to stop it
// does not make a connection fail.
void StopScanningQuietly(BlueZBleScanner& scanner) {
    try {
        if (scanner.IsScanning()) {
            scanner.StopScanning();
        }
    } catch (...) {
    }
}

MessagePtr NewCharacteristicCall(sd_bus* bus, const std::string& path, const char* method) {
    sd_bus_message* raw = nullptr;
    if (sd_bus_message_new_method_call(bus, &raw, BlueZUtil::kBlueZService, path.c_str(),
                                       BlueZUtil::kGattCharacteristicInterface, method) < 0) {
        return nullptr;
    }
    return MessagePtr(raw);
}

std::string ReadValue(sd_bus* bus, const std::string& path) {
    BusError error;
    MessagePtr call = NewCharacteristicCall(bus, path, BlueZUtil::kReadValue);
    sd_bus_message* rawReply = nullptr;
    if (!call || sd_bus_message_append(call.get(), "a{sv}", 0) < 0 ||
        sd_bus_call(bus, call.get(), BlueZUtil::kGattCallTimeoutUs, error.Get(), &rawReply) < 0) {
        MessagePtr reply(rawReply);
        throw ApiException(kReadFailedMessage + error.Detail(), QELTBLE_ERROR_COMMUNICATION);
    }
    MessagePtr reply(rawReply);
    const void* data = nullptr;
    size_t size = 0;
    if (sd_bus_message_read_array(reply.get(), 'y', &data, &size) < 0 || data == nullptr) {
        return std::string();
    }
    return std::string(static_cast<const char*>(data), size);
}

void WriteValue(sd_bus* bus, const std::string& path, const std::string& value, bool withResponse) {
    BusError error;
    MessagePtr call = NewCharacteristicCall(bus, path, BlueZUtil::kWriteValue);
    const char* type =
        withResponse ? BlueZUtil::kWriteWithResponse : BlueZUtil::kWriteWithoutResponse;
    sd_bus_message* rawReply = nullptr;
    if (!call || sd_bus_message_append_array(call.get(), 'y', value.data(), value.size()) < 0 ||
        sd_bus_message_append(call.get(), "a{sv}", 1, BlueZUtil::kWriteTypeOption, "s", type) < 0 ||
        sd_bus_call(bus, call.get(), BlueZUtil::kGattCallTimeoutUs, error.Get(), &rawReply) < 0) {
        MessagePtr reply(rawReply);
        throw ApiException(kWriteFailedMessage + error.Detail(), QELTBLE_ERROR_COMMUNICATION);
    }
    MessagePtr reply(rawReply);
}

SlotPtr MatchPropertiesChanged(sd_bus* bus, const std::string& path,
                               sd_bus_message_handler_t handler, void* userdata) {
    sd_bus_slot* slot = nullptr;
    if (sd_bus_match_signal(bus, &slot, BlueZUtil::kBlueZService, path.c_str(),
                            BlueZUtil::kPropertiesInterface, BlueZUtil::kPropertiesChanged, handler,
                            userdata) < 0) {
        return nullptr;
    }
    return SlotPtr(slot);
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The canonical UUID of one interface of an object, empty when absent.
std::string UuidOf(const BlueZUtil::ObjEntry& object, const char* interface) {
    const auto found = object.interfaces.find(interface);
    if (found == object.interfaces.end()) {
        return std::string();
    }
    const auto uuid = found->second.find(BlueZUtil::kUuidProperty);
    if (uuid == found->second.end() || uuid->second.empty()) {
        return std::string();
    }
    return BlueZUtil::CanonicalUuid(uuid->second);
}

}  // namespace

GattLink::GattLink(const DeviceTimings& timings, std::function<bool()> stopRequested,
                   std::function<void()> onDisconnected)
    : timings_(timings),
      stopRequested_(std::move(stopRequested)),
      onDisconnected_(std::move(onDisconnected)) {}

GattLink::~GattLink() {
    TeardownConnection();
}

void GattLink::Connect(const std::string& serial) {
    BlueZBleScanner& scanner = BlueZBleScanner::GetInstance();
    try {
        OpenConnection(FindDevicePath(serial));
    } catch (...) {
        StopScanningQuietly(scanner);
        throw;
    }
    StopScanningQuietly(scanner);
}

std::string GattLink::FindDevicePath(const std::string& serial) {
    BlueZBleScanner& scanner = BlueZBleScanner::GetInstance();
    const Clock::time_point start = Clock::now();
    std::string path;
    while (!scanner.ResolveLiveObjectPath(serial, path)) {
        if (!scanner.IsScanning()) {
            scanner.StartScanning();
        }
        std::this_thread::sleep_for(timings_.searchPoll);
        if (stopRequested_() || Clock::now() - start >= timings_.searchLimit) {
            throw ApiException(kDeviceNotFoundMessage, QELTBLE_ERROR_COMMUNICATION);
        }
    }
    // A device being closed starts no new connection: BlueZ's Connect waits
    // for an amplifier that is switched off until its own time-out.
    if (stopRequested_()) {
        throw ApiException(kDeviceNotFoundMessage, QELTBLE_ERROR_COMMUNICATION);
    }
    return path;
}

void GattLink::OpenConnection(const std::string& devicePath) {
    auto connection = std::make_shared<Connection>();
    connection->link = this;
    connection->devicePath = devicePath;
    connection->bus = std::make_unique<BlueZUtil::BlueZConnection>();
    connection->bus->Execute(
        [&connection](sd_bus* /*bus*/) { connection->worker = std::this_thread::get_id(); });
    {
        std::lock_guard lock(linkMutex_);
        connection_ = connection;
    }
    BeginConnect(devicePath);
    try {
        connection->bus->Execute([&connection](sd_bus* bus) {
            BlueZUtil::CallNoArg(bus, connection->devicePath, BlueZUtil::kDeviceInterface,
                                 BlueZUtil::kConnect, BlueZUtil::kConnectTimeoutUs,
                                 QELTBLE_ERROR_COMMUNICATION, false);
            // Without this match a lost link goes unnoticed; the connection
            // itself stands, so a failure is not an error.
            connection->connectedSlot = MatchPropertiesChanged(
                bus, connection->devicePath, &GattLink::OnDeviceSignal, connection.get());
        });
    } catch (...) {
        EndConnect();
        throw;
    }
    EndConnect();
}

void GattLink::BeginConnect(const std::string& devicePath) {
    std::lock_guard lock(linkMutex_);
    // Checked together with the record, so that a device being closed
    // either sees this Connect and cancels it, or it never starts.
    if (connectingStopped_) {
        throw ApiException(kDeviceNotFoundMessage, QELTBLE_ERROR_COMMUNICATION);
    }
    connectingPath_ = devicePath;
}

void GattLink::EndConnect() noexcept {
    std::lock_guard lock(linkMutex_);
    connectingPath_.clear();
    connectEnded_.notify_all();
}

void GattLink::StopConnecting() noexcept {
    std::string path;
    {
        std::lock_guard lock(linkMutex_);
        connectingStopped_ = true;
        path = connectingPath_;
    }
    if (path.empty()) {
        return;
    }
    try {
        BlueZUtil::BlueZConnection bus;
        // The Connect ends by its own time-out at the latest.
        const Clock::time_point limit =
            Clock::now() + std::chrono::microseconds(BlueZUtil::kConnectTimeoutUs);
        while (true) {
            bus.Execute([&path](sd_bus* raw) {
                BlueZUtil::CallNoArg(raw, path, BlueZUtil::kDeviceInterface, BlueZUtil::kDisconnect,
                                     BlueZUtil::kDisconnectTimeoutUs, QELTBLE_ERROR_COMMUNICATION,
                                     true);
            });
            // A Disconnect that reached BlueZ before the Connect did cancels
            // nothing: ask again until the Connect has ended.
            std::unique_lock lock(linkMutex_);
            if (connectEnded_.wait_for(lock, kCancelRetry,
                                       [this] { return connectingPath_.empty(); }) ||
                Clock::now() >= limit) {
                return;
            }
        }
    } catch (...) {
        // Without a bus of its own the Connect ends by its time-out.
    }
}

void GattLink::DiscoverServices() {
    const ConnectionPtr connection = CurrentConnection();
    const Clock::time_point start = Clock::now();
    while (true) {
        bool resolved = false;
        connection->bus->Execute([&](sd_bus* bus) {
            BusError error;
            int value = 0;
            if (sd_bus_get_property_trivial(
                    bus, BlueZUtil::kBlueZService, connection->devicePath.c_str(),
                    BlueZUtil::kDeviceInterface, BlueZUtil::kServicesResolvedProperty, error.Get(),
                    'b', &value) < 0 ||
                value == 0) {
                return;
            }
            ReadServiceTree(bus, connection->devicePath);
            resolved = true;
        });
        if (resolved) {
            return;
        }
        std::this_thread::sleep_for(timings_.discoveryPoll);
        if (Clock::now() - start >= timings_.discoveryLimit) {
            throw ApiException(kServicesNotDiscoveredMessage, QELTBLE_ERROR_COMMUNICATION);
        }
    }
}

void GattLink::ReadServiceTree(sd_bus* bus, const std::string& devicePath) {
    std::set<std::string> services;
    std::map<std::string, std::string> characteristics;
    const std::string prefix = devicePath + "/";
    for (const BlueZUtil::ObjEntry& object : BlueZUtil::GetManagedObjects(bus)) {
        if (!StartsWith(object.path, prefix)) {
            continue;
        }
        if (std::string uuid = UuidOf(object, BlueZUtil::kGattServiceInterface); !uuid.empty()) {
            services.insert(std::move(uuid));
        }
        if (std::string uuid = UuidOf(object, BlueZUtil::kGattCharacteristicInterface);
            !uuid.empty()) {
            characteristics.insert_or_assign(std::move(uuid), object.path);
        }
    }
    std::lock_guard lock(linkMutex_);
    services_ = std::move(services);
    characteristics_ = std::move(characteristics);
}

std::string GattLink::CharacteristicPathOrEmpty(const std::string& uuid) const {
    const std::string canonical = BlueZUtil::CanonicalUuid(uuid);
    std::lock_guard lock(linkMutex_);
    const auto found = characteristics_.find(canonical);
    return found != characteristics_.end() ? found->second : std::string();
}

std::string GattLink::GetCharacteristicPath(const std::string& uuid) const {
    std::string path = CharacteristicPathOrEmpty(uuid);
    if (path.empty()) {
        throw ApiException("Could not find characteristic '" + uuid + "'.",
                           QELTBLE_ERROR_COMMUNICATION);
    }
    return path;
}

bool GattLink::HasService(const std::string& uuid) const {
    const std::string canonical = BlueZUtil::CanonicalUuid(uuid);
    std::lock_guard lock(linkMutex_);
    return services_.count(canonical) != 0;
}

GattLink::ConnectionPtr GattLink::CurrentConnection() const {
    ConnectionPtr connection;
    {
        std::lock_guard lock(linkMutex_);
        connection = connection_;
    }
    if (!connection) {
        throw ApiException(BlueZUtil::kNotRunningMessage, QELTBLE_ERROR_COMMUNICATION);
    }
    // The worker must never hold the last reference: it would have to join
    // itself when the connection ends.
    if (connection->worker == std::this_thread::get_id()) {
        throw ApiException(BlueZUtil::kExecuteOnWorkerMessage, QELTBLE_ERROR_COMMUNICATION);
    }
    return connection;
}

GattLink::ConnectionPtr GattLink::ConnectionFor(const std::string& uuid, std::string& path,
                                                bool required) const {
    path = required ? GetCharacteristicPath(uuid) : CharacteristicPathOrEmpty(uuid);
    if (path.empty()) {
        return nullptr;
    }
    return CurrentConnection();
}

std::string GattLink::Read(const std::string& /*service*/, const std::string& characteristic) {
    std::string path;
    const ConnectionPtr connection = ConnectionFor(characteristic, path, true);
    std::string value;
    connection->bus->Execute([&](sd_bus* bus) { value = ReadValue(bus, path); });
    return value;
}

void GattLink::Write(const std::string& /*service*/, const std::string& characteristic,
                     const std::string& value, bool withResponse) {
    std::string path;
    const ConnectionPtr connection = ConnectionFor(characteristic, path, true);
    connection->bus->Execute([&](sd_bus* bus) { WriteValue(bus, path, value, withResponse); });
}

void GattLink::Subscribe(const std::string& characteristic, NotificationHandler handler) {
    std::string path;
    const ConnectionPtr connection = ConnectionFor(characteristic, path, true);
    {
        std::lock_guard lock(handlersMutex_);
        handlers_.insert_or_assign(path,
                                   std::make_shared<const NotificationHandler>(std::move(handler)));
    }
    try {
        connection->bus->Execute([&](sd_bus* bus) {
            try {
                if (connection->closed) {
                    throw ApiException(BlueZUtil::kNotRunningMessage, QELTBLE_ERROR_COMMUNICATION);
                }
                SlotPtr slot = MatchPropertiesChanged(bus, path, &GattLink::OnCharacteristicSignal,
                                                      connection.get());
                if (!slot) {
                    throw ApiException(kSubscribeFailedMessage, QELTBLE_ERROR_COMMUNICATION);
                }
                BlueZUtil::CallNoArg(bus, path, BlueZUtil::kGattCharacteristicInterface,
                                     BlueZUtil::kStartNotify, BlueZUtil::kGattCallTimeoutUs,
                                     QELTBLE_ERROR_COMMUNICATION, false);
                // Replaces (and so releases) an earlier match: one live match
                // per characteristic.
                connection->matchSlots.insert_or_assign(path, std::move(slot));
            } catch (...) {
                connection->matchSlots.erase(path);
                throw;
            }
        });
    } catch (...) {
        std::lock_guard lock(handlersMutex_);
        handlers_.erase(path);
        throw;
    }
}

void GattLink::Unsubscribe(const std::string& characteristic) {
    std::string path;
    ConnectionPtr connection;
    try {
        connection = ConnectionFor(characteristic, path, false);
    } catch (const ApiException&) {
        // The link is down: its notifications ended with it.
    }
    if (path.empty()) {
        return;
    }
    {
        std::lock_guard lock(handlersMutex_);
        handlers_.erase(path);
    }
    if (!connection) {
        return;
    }
    try {
        connection->bus->Execute([&](sd_bus* bus) {
            BlueZUtil::CallNoArg(bus, path, BlueZUtil::kGattCharacteristicInterface,
                                 BlueZUtil::kStopNotify, BlueZUtil::kGattCallTimeoutUs,
                                 QELTBLE_ERROR_COMMUNICATION, true);
            connection->matchSlots.erase(path);
        });
    } catch (const ApiException&) {
        // A connection that is no longer running delivers nothing anyway.
    }
}

void GattLink::DispatchNotification(std::string_view path, const std::string& value) {
    std::shared_ptr<const NotificationHandler> handler;
    {
        std::lock_guard lock(handlersMutex_);
        const auto found = handlers_.find(path);
        if (found == handlers_.end()) {
            return;
        }
        handler = found->second;
    }
    try {
        (*handler)(value);
    } catch (...) {
        // A handler's failure must not reach the bus worker.
    }
}

void GattLink::TeardownConnection() noexcept {
    ConnectionPtr connection;
    {
        std::lock_guard lock(linkMutex_);
        connection = std::move(connection_);
        connection_.reset();
        characteristics_.clear();
    }
    if (connection) {
        try {
            connection->bus->Execute([&connection](sd_bus* bus) {
                connection->closed = true;
                // Released before disconnecting, so that the link's own
                // disconnection is not reported as a loss.
                connection->connectedSlot.reset();
                if (!connection->devicePath.empty()) {
                    BlueZUtil::CallNoArg(bus, connection->devicePath, BlueZUtil::kDeviceInterface,
                                         BlueZUtil::kDisconnect, BlueZUtil::kDisconnectTimeoutUs,
                                         QELTBLE_ERROR_COMMUNICATION, true);
                }
                connection->matchSlots.clear();
            });
        } catch (...) {
            // A lost connection has no worker left to run signal handlers.
        }
        // Unless another thread is still inside a call on this connection, this
        // stops and joins its worker; otherwise that thread does it when it
        // leaves.
        connection.reset();
    }
    std::lock_guard lock(handlersMutex_);
    handlers_.clear();
}

int GattLink::OnCharacteristicSignal(sd_bus_message* message, void* userdata,
                                     sd_bus_error* /*error*/) {
    if (message == nullptr || userdata == nullptr) {
        return 0;
    }
    try {
        Connection& connection = *static_cast<Connection*>(userdata);
        const char* path = sd_bus_message_get_path(message);
        if (ReadNotifiedValue(message, connection.notified)) {
            connection.link->DispatchNotification(path != nullptr ? path : "", connection.notified);
        }
    } catch (...) {
        // A notification that cannot be handled is dropped.
    }
    return 0;
}

int GattLink::OnDeviceSignal(sd_bus_message* message, void* userdata, sd_bus_error* /*error*/) {
    if (message == nullptr || userdata == nullptr) {
        return 0;
    }
    try {
        Connection& connection = *static_cast<Connection*>(userdata);
        if (ReportsDisconnection(message) && connection.link->onDisconnected_) {
            connection.link->onDisconnected_();
        }
    } catch (...) {
        // Nothing may escape into the bus worker.
    }
    return 0;
}

}  // namespace Qelt::BLE
