// Library-wide exports: they have no call frame because they cannot fail.
#include "api/DefaultGeneration.h"
#include "api/ErrorText.h"
#include "qeltble.h"

namespace {
constexpr const char* kApiVersion = "1.24.2.0";
}

extern "C" {

QELTBLE_API const char* QELTBLE_GetApiVersion(void) {
    return kApiVersion;
}

QELTBLE_API const char* QELTBLE_GetLastErrorText(void) {
    return Qelt::BLE::GetErrorText();
}

QELTBLE_API int32_t QELTBLE_SetDefaultGeneration(uint32_t generation) {
    return Qelt::BLE::SetConfiguredGeneration(generation) ? QELTBLE_SUCCESS
                                                          : QELTBLE_ERROR_INVALID_ARGUMENT;
}

QELTBLE_API uint32_t QELTBLE_GetDefaultGeneration(void) {
    return Qelt::BLE::GetConfiguredGeneration();
}

}  // extern "C"
