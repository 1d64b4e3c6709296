// The process-wide scanner: discovers amplifiers through BlueZ and keeps the
// list of the serial numbers seen, each with the object path of the device
// that reported it last. The list is announced to the application, whole and
// in order of discovery, through two callbacks that run on the scanner's
// callback dispatcher.
//
// Threads: application threads call the IAdapter operations; the bus worker
// runs every bus task and both signal handlers (hence OnDeviceFound); the
// dispatcher runs AnnounceDevices and with it the application's callbacks.
// `listMutex_` is never held across a bus call, an Execute or a callback.
#pragma once

#include <systemd/sd-bus.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bluez/BlueZConnection.h"
#include "bluez/BusResources.h"
#include "bluez/CallbackDispatcher.h"
#include "bluez/IAdapter.h"
#include "bluez/ObjEntry.h"

namespace Qelt::BLE {

inline constexpr const char* kNoAdapterMessage = "No Bluetooth adapter available.";
inline constexpr const char* kAdapterNotEnabledMessage = "Bluetooth adapter not enabled.";
inline constexpr const char* kAdapterNotPoweredMessage = "Bluetooth adapter is not powered on.";
inline constexpr const char* kDeviceSubscriptionFailedMessage =
    "Could not subscribe to BlueZ device notifications.";
inline constexpr const char* kPropertySubscriptionFailedMessage =
    "Could not subscribe to BlueZ device property changes.";
inline constexpr const char* kShutdownFromCallbackMessage =
    "The scanner cannot be shut down from one of its own callbacks.";

class BlueZBleScanner final : public IAdapter {
public:
    // The singleton, constructed on first use. A failed construction throws
    // here and is tried again on the next call.
    static BlueZBleScanner& GetInstance();

    // Starts the dispatcher, opens the bus, chooses the first adapter in
    // BlueZ's tree (it must be powered) and subscribes to device reports.
    // Throws ApiException (code 2). Does not start discovery.
    BlueZBleScanner();
    BlueZBleScanner(const BlueZBleScanner&) = delete;
    BlueZBleScanner& operator=(const BlueZBleScanner&) = delete;
    ~BlueZBleScanner() override;

    void StartScanning() override;
    void StopScanning() override;
    bool IsScanning() const override;
    // Stops discovery and leaves the scanner inert for the rest of the
    // process. Must not be called from one of the scanner's callbacks.
    void Shutdown() override;
    void RegisterDeviceDiscoveredCallback(QELTBLE_DEVICE_DISCOVERED_CALLBACK callback) override;
    void RegisterDeviceListChangedCallback(QELTBLE_DEVICE_LIST_CHANGED_CALLBACK callback) override;
    uint32_t GetDiscoveredDeviceCount() override;
    int32_t GetDiscoveredDeviceName(uint32_t index, char* buffer, uint32_t length) override;
    void SetDeviceNameFilter(std::function<bool(const std::string&)> filter) override;

    // Looks `name` up in BlueZ's current object tree (not in the list) and
    // stores the path of the first device object known by that name.
    // Returns false when there is none or after Shutdown.
    bool ResolveLiveObjectPath(const std::string& name, std::string& objectPath);
    // The list entry for `name`, if any.
    bool FindObjectPath(const std::string& name, std::string& objectPath, bool& live);

    // Bus worker: a device reported `name` from `objectPath`. Adds a new
    // entry (and announces the list) when the name passes the filter; an
    // entry of that name already listed is refreshed. True when added.
    bool OnDeviceFound(const std::string& name, const std::string& objectPath, bool live);
    // Bus worker: an object appeared in BlueZ's tree.
    void OnInterfacesAdded(const BlueZUtil::ObjEntry& entry);
    // Bus worker: the name of the device at `objectPath` changed.
    void OnDevicePropertiesChanged(const std::string& objectPath, const std::string& name);
    // Dispatcher: hands the whole list to the application's callbacks.
    void AnnounceDevices();

private:
    struct DiscoveredDevice {
        std::string name;
        std::string objectPath;
        bool live = false;
        std::chrono::steady_clock::time_point lastSeen;
    };

    std::shared_ptr<BlueZUtil::BlueZConnection> Connection() const;
    void SetUp(sd_bus* bus);
    void Subscribe(sd_bus* bus);
    void Start(sd_bus* bus);
    void ReleaseSubscriptions();
    void PostAnnouncement();
    bool Accepts(const std::string& name) const;

    // Both subscriptions are created and used on the bus worker; they are
    // released there, or after the worker has ended. Declared before the
    // connection so that they outlive its worker.
    BlueZUtil::SlotPtr interfacesAddedSlot_;
    BlueZUtil::SlotPtr propertiesChangedSlot_;
    std::string adapterPath_;  // bus worker only

    std::unique_ptr<BlueZUtil::CallbackDispatcher> dispatcher_;
    // Null after Shutdown. Shared so that Shutdown can take it away while
    // another thread is still inside Execute; the last holder destroys it.
    mutable std::mutex connectionMutex_;
    std::shared_ptr<BlueZUtil::BlueZConnection> connection_;

    std::atomic<bool> scanning_{false};
    // Set once by Shutdown; from then on nothing is listed any more.
    std::atomic<bool> shutDown_{false};

    mutable std::mutex listMutex_;
    std::vector<DiscoveredDevice> devices_;
    QELTBLE_DEVICE_DISCOVERED_CALLBACK onDeviceDiscovered_ = nullptr;
    QELTBLE_DEVICE_LIST_CHANGED_CALLBACK onDeviceListChanged_ = nullptr;
    std::function<bool(const std::string&)> nameFilter_;
};

}  // namespace Qelt::BLE
