// Every BlueZ and D-Bus name the library uses: the service, object paths,
// interfaces, members, properties, options and match rules. Other code refers
// to these constants instead of spelling the names again.
#pragma once

#include <cstdint>

namespace Qelt::BLE::BlueZUtil {

// The daemon and the root of its object tree.
inline constexpr const char* kBlueZService = "org.bluez";
inline constexpr const char* kRootPath = "/";

// Standard D-Bus interfaces and their members.
inline constexpr const char* kObjectManagerInterface = "org.freedesktop.DBus.ObjectManager";
inline constexpr const char* kGetManagedObjects = "GetManagedObjects";
inline constexpr const char* kInterfacesAdded = "InterfacesAdded";
inline constexpr const char* kPropertiesInterface = "org.freedesktop.DBus.Properties";
inline constexpr const char* kPropertiesChanged = "PropertiesChanged";

// The reply of GetManagedObjects and the body of InterfacesAdded.
inline constexpr const char* kManagedObjectsEntrySignature = "{oa{sa{sv}}}";
inline constexpr const char* kInterfaceListEntrySignature = "{sa{sv}}";
inline constexpr const char* kPropertiesEntrySignature = "{sv}";

// Adapters.
inline constexpr const char* kAdapterInterface = "org.bluez.Adapter1";
inline constexpr const char* kPoweredProperty = "Powered";
inline constexpr const char* kSetDiscoveryFilter = "SetDiscoveryFilter";
inline constexpr const char* kStartDiscovery = "StartDiscovery";
inline constexpr const char* kStopDiscovery = "StopDiscovery";
inline constexpr const char* kTransportOption = "Transport";
inline constexpr const char* kTransportLowEnergy = "le";

// Devices.
inline constexpr const char* kDeviceInterface = "org.bluez.Device1";
inline constexpr const char* kNameProperty = "Name";
inline constexpr const char* kAliasProperty = "Alias";
inline constexpr const char* kConnect = "Connect";
inline constexpr const char* kDisconnect = "Disconnect";
inline constexpr const char* kServicesResolvedProperty = "ServicesResolved";
inline constexpr const char* kConnectedProperty = "Connected";

// GATT services and characteristics.
inline constexpr const char* kGattServiceInterface = "org.bluez.GattService1";
inline constexpr const char* kGattCharacteristicInterface = "org.bluez.GattCharacteristic1";
inline constexpr const char* kUuidProperty = "UUID";
inline constexpr const char* kValueProperty = "Value";
inline constexpr const char* kReadValue = "ReadValue";
inline constexpr const char* kWriteValue = "WriteValue";
inline constexpr const char* kStartNotify = "StartNotify";
inline constexpr const char* kStopNotify = "StopNotify";
inline constexpr const char* kWriteTypeOption = "type";
inline constexpr const char* kWriteWithResponse = "request";
inline constexpr const char* kWriteWithoutResponse = "command";

// The scanner's subscription to name changes of any device.
inline constexpr const char* kDevicePropertiesChangedMatch =
    "type='signal',sender='org.bluez',interface='org.freedesktop.DBus.Properties',"
    "member='PropertiesChanged',arg0='org.bluez.Device1'";

// Method-call time-outs in microseconds.
inline constexpr uint64_t kAdapterCallTimeoutUs = 10'000'000;
inline constexpr uint64_t kGattCallTimeoutUs = 10'000'000;
inline constexpr uint64_t kConnectTimeoutUs = 20'000'000;
inline constexpr uint64_t kDisconnectTimeoutUs = 10'000'000;

}  // namespace Qelt::BLE::BlueZUtil
