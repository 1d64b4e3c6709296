// Scanning exports.
#include "api/CallFrame.h"
#include "api/NotAvailable.h"
#include "qeltble.h"

using namespace Qelt::BLE;

extern "C" {

QELTBLE_API int32_t QELTBLE_StartScanning(void) {
    return CallFrame([]() -> int32_t { ThrowNotAvailable("QELTBLE_StartScanning"); });
}

QELTBLE_API int32_t QELTBLE_StopScanning(void) {
    return CallFrame([]() -> int32_t { ThrowNotAvailable("QELTBLE_StopScanning"); });
}

QELTBLE_API uint32_t QELTBLE_GetDiscoveredDeviceCount(void) {
    return CallFrameOr(uint32_t{0},
                       []() -> uint32_t { ThrowNotAvailable("QELTBLE_GetDiscoveredDeviceCount"); });
}

QELTBLE_API int32_t QELTBLE_GetDiscoveredDeviceName(uint32_t index, char* buffer, uint32_t size) {
    return CallFrame([&]() -> int32_t {
        (void)index;
        (void)buffer;
        (void)size;
        ThrowNotAvailable("QELTBLE_GetDiscoveredDeviceName");
    });
}

QELTBLE_API int32_t QELTBLE_RegisterDeviceDiscoveredCallback(
    QELTBLE_DEVICE_DISCOVERED_CALLBACK callback) {
    return CallFrame([&]() -> int32_t {
        (void)callback;
        ThrowNotAvailable("QELTBLE_RegisterDeviceDiscoveredCallback");
    });
}

QELTBLE_API int32_t QELTBLE_RegisterDeviceListChangedCallback(
    QELTBLE_DEVICE_LIST_CHANGED_CALLBACK callback) {
    return CallFrame([&]() -> int32_t {
        (void)callback;
        ThrowNotAvailable("QELTBLE_RegisterDeviceListChangedCallback");
    });
}

}  // extern "C"
