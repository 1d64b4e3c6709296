// The three one-shot stream diagnostics on standard error, written only when
// stream diagnostics are switched on. Each line is written at most once per
// process, whatever the number of devices.
#pragma once

#include <cstddef>

namespace Qelt::BLE {

// The first sample notification of the process arrived.
void ReportFirstNotification(std::size_t payloadLength) noexcept;
// A notification was dropped because of a standard exception.
void ReportDroppedNotification(const char* reason) noexcept;
// A notification was dropped because of any other exception.
void ReportDroppedNotification() noexcept;

}  // namespace Qelt::BLE
