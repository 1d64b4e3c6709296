// The process-wide protocol generation assumed for devices opened from now on.
#pragma once

#include <cstdint>

namespace Qelt::BLE {

inline constexpr uint32_t kGenerationDetect = 0;
inline constexpr uint32_t kGenerationNus = 1;
inline constexpr uint32_t kGenerationLegacy = 2;

// Stores a value of 0 to 2 and returns true; refuses larger values.
bool SetConfiguredGeneration(uint32_t generation) noexcept;

// Read by every device when it is created.
uint32_t GetConfiguredGeneration() noexcept;

}  // namespace Qelt::BLE
