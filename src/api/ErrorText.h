// The calling thread's last-error text behind QELTBLE_GetLastErrorText.
#pragma once

#include <cstddef>

namespace Qelt::BLE {

inline constexpr std::size_t kErrorTextSize = 256;

// Stores at most kErrorTextSize - 1 characters of `message` and a NUL.
void SetErrorText(const char* message) noexcept;

// The calling thread's buffer; empty until the thread's first failure.
const char* GetErrorText() noexcept;

}  // namespace Qelt::BLE
