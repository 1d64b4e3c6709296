// Exports whose implementation is not part of this build fail through the
// call frame with this exception instead of pretending to succeed.
#pragma once

#include <string>

#include "api/ApiException.h"

namespace Qelt::BLE {

[[noreturn]] inline void ThrowNotAvailable(const char* exportName) {
    throw ApiException(std::string(exportName) + " is not available in this build yet.", -1);
}

}  // namespace Qelt::BLE
