// Scanning exports. Each obtains the scanner through the factory, so each
// may construct it, and each reports a failed construction through its frame.
#include "api/CallFrame.h"
#include "bluez/BLEFactory.h"
#include "bluez/IAdapter.h"
#include "qeltble.h"

using namespace Qelt::BLE;

namespace {

IAdapter& Scanner() {
    return *BLEFactory::GetInstance().GetAdapter();
}

}  // namespace

extern "C" {

QELTBLE_API int32_t QELTBLE_StartScanning(void) {
    return CallFrame([]() -> int32_t {
        IAdapter& scanner = Scanner();
        if (!scanner.IsScanning()) {
            scanner.StartScanning();
        }
        return 0;
    });
}

QELTBLE_API int32_t QELTBLE_StopScanning(void) {
    return CallFrame([]() -> int32_t {
        IAdapter& scanner = Scanner();
        if (scanner.IsScanning()) {
            scanner.StopScanning();
        }
        return 0;
    });
}

QELTBLE_API uint32_t QELTBLE_GetDiscoveredDeviceCount(void) {
    return CallFrameOr(uint32_t{0},
                       []() -> uint32_t { return Scanner().GetDiscoveredDeviceCount(); });
}

QELTBLE_API int32_t QELTBLE_GetDiscoveredDeviceName(uint32_t index, char* buffer, uint32_t size) {
    return CallFrame(
        [&]() -> int32_t { return Scanner().GetDiscoveredDeviceName(index, buffer, size); });
}

QELTBLE_API int32_t
QELTBLE_RegisterDeviceDiscoveredCallback(QELTBLE_DEVICE_DISCOVERED_CALLBACK callback) {
    return CallFrame([&]() -> int32_t {
        Scanner().RegisterDeviceDiscoveredCallback(callback);
        return 0;
    });
}

QELTBLE_API int32_t
QELTBLE_RegisterDeviceListChangedCallback(QELTBLE_DEVICE_LIST_CHANGED_CALLBACK callback) {
    return CallFrame([&]() -> int32_t {
        Scanner().RegisterDeviceListChangedCallback(callback);
        return 0;
    });
}

}  // extern "C"
