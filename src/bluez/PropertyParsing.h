// Reading BlueZ's property dictionaries out of a message: the reply of the
// object-tree enumeration and the bodies of InterfacesAdded and
// PropertiesChanged. Any body is safe to read: whatever cannot be entered
// yields an empty result instead of an error.
#pragma once

#include <systemd/sd-bus.h>

#include "bluez/ObjEntry.h"

namespace Qelt::BLE::BlueZUtil {

// `message` is positioned at an `a{sa{sv}}` value. Each interface read is
// stored in `entry.interfaces`, replacing an earlier map of the same name.
// On success the message is advanced past the value.
void ParseInterfaceList(sd_bus_message* message, ObjEntry& entry);

// `message` is positioned at an `a{sv}` value. Properties of type `s` or `o`
// are stored in `properties` as their text (a later duplicate overwrites an
// earlier one); all others are skipped. On success the message is advanced
// past the value.
void ParsePropsDict(sd_bus_message* message, PropertyMap& properties);

}  // namespace Qelt::BLE::BlueZUtil
