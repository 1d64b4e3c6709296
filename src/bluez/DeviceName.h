// The name under which a BlueZ device object is known: its advertised
// `Name`, or its `Alias` when the name is absent or empty.
#pragma once

#include <string>

#include "bluez/ObjEntry.h"

namespace Qelt::BLE::BlueZUtil {

// `device` holds the properties of an org.bluez.Device1 interface. Empty
// when neither property has text.
std::string DeviceName(const PropertyMap& device);

}  // namespace Qelt::BLE::BlueZUtil
