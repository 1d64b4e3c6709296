// Whether a device's list of service UUIDs holds a given service. Letters
// compare without regard to ASCII case (as the C locale's toupper sees them);
// nothing else is normalised, so a 16-bit short form or a UUID with
// surrounding spaces does not match.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace Qelt::BLE {

bool ListHoldsServiceUuid(const std::vector<std::string>& serviceUuids, std::string_view service);

}  // namespace Qelt::BLE
