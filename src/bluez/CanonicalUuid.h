// The one form in which UUIDs are stored and compared: 16-bit UUIDs placed
// into the Bluetooth Base UUID, everything in upper case, so that comparing
// two UUIDs is plain string equality.
#pragma once

#include <string>

namespace Qelt::BLE::BlueZUtil {

// "180f" gives "0000180F-0000-1000-8000-00805F9B34FB"; any text that is not
// exactly 4 characters long is only upper-cased.
std::string CanonicalUuid(const std::string& uuid);

}  // namespace Qelt::BLE::BlueZUtil
