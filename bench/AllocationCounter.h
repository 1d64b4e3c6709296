// Counts the calls of the global operator new in a benchmark binary, so that
// a benchmark can report how many allocations one call of the measured code
// made.
#pragma once

#include <cstdint>

namespace Qelt::BLE::Bench {

// Allocations through the global operator new (all forms) since the start of
// the process.
uint64_t AllocationCount();

}  // namespace Qelt::BLE::Bench
