// Local-time stamps of the log file.
#pragma once

#include <string>

namespace Qelt::BLE {

// "[2024-03-05 14:07:09.042]": local time with the milliseconds of the
// current second.
std::string LogLineTimestamp();

// "20240305_140709": local time as used in the default file name.
std::string LogFileTimestamp();

}  // namespace Qelt::BLE
