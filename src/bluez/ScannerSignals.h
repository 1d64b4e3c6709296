// The sd-bus handlers that connect BlueZ's signals to the scanner. Both run
// on the scanner's bus worker, take the scanner as user data, drop every
// error they meet and always return 0.
#pragma once

#include <systemd/sd-bus.h>

namespace Qelt::BLE {

// InterfacesAdded of the object manager: `o` path, `a{sa{sv}}` interfaces.
int OnInterfacesAddedSignal(sd_bus_message* message, void* scanner, sd_bus_error* error);

// PropertiesChanged of a device: `s` interface, `a{sv}` changed, `as`
// invalidated. Only a non-empty Name (or else Alias) reports the device.
int OnDevicePropertiesChangedSignal(sd_bus_message* message, void* scanner, sd_bus_error* error);

}  // namespace Qelt::BLE
