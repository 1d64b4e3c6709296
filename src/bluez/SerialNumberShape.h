// The default rule for which advertised names the scanner lists: the shape
// of an amplifier serial number, XX-XXXX.XX.XX (13 characters with a hyphen
// after the second and dots after the sixth and the eighth character).
#pragma once

#include <string>

namespace Qelt::BLE {

bool HasSerialNumberShape(const std::string& name);

}  // namespace Qelt::BLE
