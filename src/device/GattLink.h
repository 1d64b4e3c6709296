// A device's link to its amplifier's GATT server through BlueZ: finding and
// connecting the amplifier's device object, learning its services and
// characteristics, the four primitives the rest of the device is built on
// (read, write, subscribe, unsubscribe), the routing of notifications to
// their handlers, and the teardown of the link. Characteristics are always
// addressed by UUID, in any form CanonicalUuid accepts; object paths stay in
// here.
//
// While the link is up it owns a private bus connection, whose worker runs
// every bus call and every signal handler of the link. The open sequence and
// the reconnect thread connect, discover and tear down; any thread may use
// the primitives meanwhile. Such a call either completes on the link it
// found, or fails with the link's messages (a characteristic not known, a
// connection no longer running). `linkMutex_` guards the maps and the
// current connection and is never held across a bus call.
#pragma once

#include <systemd/sd-bus.h>

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>

#include "bluez/BlueZConnection.h"
#include "bluez/BusResources.h"
#include "device/DeviceTimings.h"

namespace Qelt::BLE {

inline constexpr const char* kDeviceNotFoundMessage =
    "Could not find device with the specified serial number.";
inline constexpr const char* kServicesNotDiscoveredMessage = "Could not discover GATT services.";
inline constexpr const char* kReadFailedMessage = "Failed to read characteristic value";
inline constexpr const char* kWriteFailedMessage = "Failed to write characteristic value";
inline constexpr const char* kSubscribeFailedMessage =
    "Failed to subscribe to characteristic notifications.";

class GattLink {
public:
    // Receives the value of each notification of one characteristic; runs
    // on the link's bus worker.
    using NotificationHandler = std::function<void(const std::string& value)>;

    // `stopRequested` is asked while searching for the amplifier: true ends
    // the search. `onDisconnected` runs on the bus worker when BlueZ reports
    // that the amplifier is no longer connected.
    GattLink(const DeviceTimings& timings, std::function<bool()> stopRequested,
             std::function<void()> onDisconnected);
    GattLink(const GattLink&) = delete;
    GattLink& operator=(const GattLink&) = delete;
    ~GattLink();

    // Searches BlueZ's objects for a device named `serial` (starting
    // discovery while it is not there), opens a bus connection, connects the
    // device and watches its Connected property. Stops discovery afterwards.
    void Connect(const std::string& serial);
    // Waits until BlueZ has resolved the services, then reads the services
    // and characteristics below the device.
    void DiscoverServices();

    std::string CharacteristicPathOrEmpty(const std::string& uuid) const;
    // Throws ApiException 3 "Could not find characteristic '<uuid>'.".
    std::string GetCharacteristicPath(const std::string& uuid) const;
    bool HasService(const std::string& uuid) const;

    // The service UUID is not used for the lookup: a characteristic is
    // found by its own UUID across all services.
    std::string Read(const std::string& service, const std::string& characteristic);
    void Write(const std::string& service, const std::string& characteristic,
               const std::string& value, bool withResponse);
    // Routes the characteristic's notifications to `handler` (replacing an
    // earlier one) and asks BlueZ to notify. On failure neither the handler
    // nor a signal match remains.
    void Subscribe(const std::string& characteristic, NotificationHandler handler);
    // Stops the notifications; a characteristic the device lacks is ignored.
    void Unsubscribe(const std::string& characteristic);

    // Hands a notified value to the handler of the characteristic at `path`;
    // a path without a handler is dropped. Whatever the handler throws is
    // swallowed.
    void DispatchNotification(std::string_view path, const std::string& value);

    // Disconnects the amplifier, releases every subscription and signal
    // match and closes the bus connection. Safe on a link that is down.
    void TeardownConnection() noexcept;

    // Ends connecting for good, for a device being closed: no Connect is
    // started afterwards, and one in flight is cancelled rather than left to
    // its time-out (BlueZ holds it until the amplifier advertises again).
    // The link's worker is busy with that Connect, so the cancelling
    // Disconnect goes through a bus connection of its own; its errors are
    // ignored. Returns once no Connect is in flight. Not on the bus worker.
    void StopConnecting() noexcept;

private:
    // One bus connection to one connected amplifier, and what lives on it.
    // The matches are touched only on its worker (or after the worker has
    // ended); they are declared before `bus` so that they are released after
    // its worker has been joined. Shared: a call in progress keeps it alive
    // while a teardown takes it away from the link.
    struct Connection {
        GattLink* link = nullptr;
        std::string devicePath;
        // Written before the connection is published, constant afterwards.
        std::thread::id worker;
        std::map<std::string, BlueZUtil::SlotPtr> matchSlots;
        BlueZUtil::SlotPtr connectedSlot;
        // Set by the teardown task: no subscription is made on it any more.
        bool closed = false;
        // The last notified value, reused so that a notification allocates
        // nothing once it has the size of the largest one.
        std::string notified;
        std::unique_ptr<BlueZUtil::BlueZConnection> bus;
    };
    using ConnectionPtr = std::shared_ptr<Connection>;

    static int OnCharacteristicSignal(sd_bus_message* message, void* connection,
                                      sd_bus_error* error);
    static int OnDeviceSignal(sd_bus_message* message, void* connection, sd_bus_error* error);

    std::string FindDevicePath(const std::string& serial);
    void OpenConnection(const std::string& devicePath);
    // Record that a Connect of the device at `devicePath` is in flight, and
    // that it ended. Throws ApiException 3 once connecting has stopped.
    void BeginConnect(const std::string& devicePath);
    void EndConnect() noexcept;
    // The current connection; throws ApiException 3 when the link is down or
    // when called on the link's own bus worker.
    ConnectionPtr CurrentConnection() const;
    // The connection and the path of a characteristic, read together.
    ConnectionPtr ConnectionFor(const std::string& uuid, std::string& path, bool required) const;
    void ReadServiceTree(sd_bus* bus, const std::string& devicePath);

    DeviceTimings timings_;
    std::function<bool()> stopRequested_;
    std::function<void()> onDisconnected_;

    mutable std::mutex linkMutex_;
    ConnectionPtr connection_;
    std::set<std::string> services_;
    std::map<std::string, std::string> characteristics_;
    // The device path of a Connect in flight (empty when none), signalled
    // when it ends, and whether connecting has stopped for good.
    std::string connectingPath_;
    std::condition_variable connectEnded_;
    bool connectingStopped_ = false;

    std::mutex handlersMutex_;
    std::map<std::string, std::shared_ptr<const NotificationHandler>, std::less<>> handlers_;
};

}  // namespace Qelt::BLE
