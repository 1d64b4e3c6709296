// Device exports.
#include "api/CallFrame.h"
#include "api/NotAvailable.h"
#include "bluez/BLEFactory.h"
#include "bluez/IAdapter.h"
#include "qeltble.h"

using namespace Qelt::BLE;

extern "C" {

QELTBLE_API int32_t QELTBLE_OpenDevice(const char* serialNumber, QELTBLE_HANDLE* handle) {
    return CallFrame([&]() -> int32_t {
        if (handle == nullptr) {
            throw ApiException("Handle must not be null.", -1);
        }
        if (serialNumber == nullptr) {
            throw ApiException("Device name must not be null.", -1);
        }
        ThrowNotAvailable("QELTBLE_OpenDevice");
    });
}

QELTBLE_API int32_t QELTBLE_CloseDevice(QELTBLE_HANDLE* handle) {
    return CallFrame([&]() -> int32_t {
        if (handle == nullptr) {
            throw ApiException("Handle must not be null", QELTBLE_ERROR_INVALID_HANDLE);
        }
        *handle = 0;
        ThrowNotAvailable("QELTBLE_CloseDevice");
    });
}

QELTBLE_API int32_t QELTBLE_GetDeviceInformation(QELTBLE_HANDLE handle,
                                                 QELTBLE_DEVICE_INFORMATION* info) {
    return CallFrame([&]() -> int32_t {
        (void)handle;
        (void)info;
        ThrowNotAvailable("QELTBLE_GetDeviceInformation");
    });
}

QELTBLE_API int32_t QELTBLE_GetChannelConfiguration(QELTBLE_HANDLE handle,
                                                    QELTBLE_CHANNEL_CONFIGURATION* channels,
                                                    uint32_t* channelCount) {
    return CallFrame([&]() -> int32_t {
        if (channelCount == nullptr) {
            throw ApiException("channelCount must not be null", QELTBLE_ERROR_INVALID_ARGUMENT);
        }
        (void)handle;
        (void)channels;
        ThrowNotAvailable("QELTBLE_GetChannelConfiguration");
    });
}

QELTBLE_API int32_t QELTBLE_SetActiveLayout(QELTBLE_HANDLE handle, uint8_t channelCount,
                                            uint16_t framesPerNotification, uint8_t bytesPerSample,
                                            bool littleEndian, uint16_t samplingRate) {
    return CallFrame([&]() -> int32_t {
        (void)handle;
        (void)channelCount;
        (void)framesPerNotification;
        (void)bytesPerSample;
        (void)littleEndian;
        (void)samplingRate;
        ThrowNotAvailable("QELTBLE_SetActiveLayout");
    });
}

QELTBLE_API int32_t QELTBLE_RegisterDataAvailableCallback(
    QELTBLE_HANDLE handle, QELTBLE_DATA_AVAILABLE_CALLBACK callback) {
    return CallFrame([&]() -> int32_t {
        (void)handle;
        (void)callback;
        ThrowNotAvailable("QELTBLE_RegisterDataAvailableCallback");
    });
}

QELTBLE_API int32_t QELTBLE_SetFramesPerCallback(QELTBLE_HANDLE handle, uint32_t frames) {
    return CallFrame([&]() -> int32_t {
        (void)handle;
        (void)frames;
        ThrowNotAvailable("QELTBLE_SetFramesPerCallback");
    });
}

QELTBLE_API int32_t QELTBLE_RegisterDataAvailableBatchedCallback(
    QELTBLE_HANDLE handle, QELTBLE_DATA_AVAILABLE_BATCHED_CALLBACK callback) {
    return CallFrame([&]() -> int32_t {
        (void)handle;
        (void)callback;
        ThrowNotAvailable("QELTBLE_RegisterDataAvailableBatchedCallback");
    });
}

QELTBLE_API int32_t QELTBLE_RegisterConnectionStateCallback(
    QELTBLE_HANDLE handle, QELTBLE_CONNECTION_STATE_CALLBACK callback) {
    return CallFrame([&]() -> int32_t {
        (void)handle;
        (void)callback;
        ThrowNotAvailable("QELTBLE_RegisterConnectionStateCallback");
    });
}

QELTBLE_API int32_t QELTBLE_SendFrame(QELTBLE_HANDLE handle, uint8_t command,
                                      const uint8_t* payload, uint16_t payloadLength,
                                      uint8_t* status, uint8_t* response, uint16_t* responseLength,
                                      uint32_t timeoutMs) {
    return CallFrame([&]() -> int32_t {
        (void)handle;
        (void)command;
        (void)payload;
        (void)payloadLength;
        (void)status;
        (void)response;
        (void)responseLength;
        (void)timeoutMs;
        ThrowNotAvailable("QELTBLE_SendFrame");
    });
}

QELTBLE_API int32_t QELTBLE_Shutdown(void) {
    return CallFrame([]() -> int32_t {
        // HANDLE TABLE: closing every open handle comes first, before the
        // scanner goes; it is added here together with the handle table.
        BLEFactory::GetInstance().GetAdapter()->Shutdown();
        return 0;
    });
}

}  // extern "C"
