// The stream-diagnostics switch: on only when QELTBLE_DEBUG_STREAM is "1"
// the first time it is consulted; the answer holds for the rest of the
// process.
#pragma once

namespace Qelt::BLE {

bool StreamDebugEnabled() noexcept;

}  // namespace Qelt::BLE
