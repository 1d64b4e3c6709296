// Reading the two PropertiesChanged signals a linked device listens to: the
// new Value of a subscribed characteristic (a notification) and the
// Connected property of the amplifier's device object. Any body is safe to
// read; what cannot be read counts as absent.
#pragma once

#include <systemd/sd-bus.h>

#include <string>

namespace Qelt::BLE {

// `message` is a PropertiesChanged signal, positioned at its start. When its
// changed properties hold a `Value` of type `ay`, stores the bytes in `value`
// (reusing its storage) and returns true; every other property is skipped.
bool ReadNotifiedValue(sd_bus_message* message, std::string& value);

// `message` is a PropertiesChanged signal, positioned at its start. True when
// it is about org.bluez.Device1 and its changed properties hold `Connected`
// of type `b` with the value false.
bool ReportsDisconnection(sd_bus_message* message);

}  // namespace Qelt::BLE
