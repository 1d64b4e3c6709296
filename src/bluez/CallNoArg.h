// Calling a BlueZ method that takes no arguments and whose reply is not
// needed (Connect, Disconnect, StartNotify, StopNotify, discovery).
#pragma once

#include <systemd/sd-bus.h>

#include <cstdint>
#include <string>

namespace Qelt::BLE::BlueZUtil {

// Calls `interface`.`method` on `path` of org.bluez with the given time-out.
// On failure throws ApiException with `errorCode` and the text
// "<method> failed" + ": <D-Bus message>" (or "." without one), unless
// `ignoreErrors` is set. Runs on a bus worker.
void CallNoArg(sd_bus* bus, const std::string& path, const std::string& interface,
               const std::string& method, uint64_t timeoutUs, int errorCode, bool ignoreErrors);

}  // namespace Qelt::BLE::BlueZUtil
