// Enumerating BlueZ's object tree.
#pragma once

#include <systemd/sd-bus.h>

#include <vector>

#include "bluez/ObjEntry.h"

namespace Qelt::BLE::BlueZUtil {

inline constexpr const char* kEnumerationFailedMessage = "Could not enumerate BlueZ objects";

// Every object BlueZ lists, in the order of its reply. An empty or
// unexpected reply yields an empty sequence. Throws ApiException (code 2)
// when the call fails. Runs on a bus worker.
std::vector<ObjEntry> GetManagedObjects(sd_bus* bus);

}  // namespace Qelt::BLE::BlueZUtil
