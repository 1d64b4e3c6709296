// Device exports: each resolves its handle through the handle table and
// calls the device.
#include <algorithm>
#include <cstring>
#include <vector>

#include "api/CallFrame.h"
#include "api/HandleManager.h"
#include "bluez/BLEFactory.h"
#include "bluez/IAdapter.h"
#include "protocol/CommandFrame.h"
#include "qeltble.h"

using namespace Qelt::BLE;

namespace {

IDevice& Lookup(QELTBLE_HANDLE handle) {
    return *HandleManager::GetInstance().GetDeviceFromHandle(handle);
}

}  // namespace

extern "C" {

QELTBLE_API int32_t QELTBLE_OpenDevice(const char* serialNumber, QELTBLE_HANDLE* handle) {
    return CallFrame([&]() -> int32_t {
        if (handle == nullptr) {
            throw ApiException("Handle must not be null.", QELTBLE_ERROR_GENERAL);
        }
        if (serialNumber == nullptr) {
            throw ApiException("Device name must not be null.", QELTBLE_ERROR_GENERAL);
        }
        *handle = HandleManager::GetInstance().CreateHandle(serialNumber);
        return QELTBLE_SUCCESS;
    });
}

QELTBLE_API int32_t QELTBLE_CloseDevice(QELTBLE_HANDLE* handle) {
    return CallFrame([&]() -> int32_t {
        if (handle == nullptr) {
            throw ApiException("Handle must not be null", QELTBLE_ERROR_INVALID_HANDLE);
        }
        try {
            HandleManager::GetInstance().DestroyHandle(*handle);
        } catch (...) {
            *handle = 0;
            throw;
        }
        *handle = 0;
        return QELTBLE_SUCCESS;
    });
}

QELTBLE_API int32_t QELTBLE_GetDeviceInformation(QELTBLE_HANDLE handle,
                                                 QELTBLE_DEVICE_INFORMATION* info) {
    return CallFrame([&]() -> int32_t {
        *info = Lookup(handle).GetDeviceInfo();
        return QELTBLE_SUCCESS;
    });
}

QELTBLE_API int32_t QELTBLE_GetChannelConfiguration(QELTBLE_HANDLE handle,
                                                    QELTBLE_CHANNEL_CONFIGURATION* channels,
                                                    uint32_t* channelCount) {
    return CallFrame([&]() -> int32_t {
        if (channelCount == nullptr) {
            throw ApiException("channelCount must not be null", QELTBLE_ERROR_INVALID_ARGUMENT);
        }
        const auto records = Lookup(handle).GetChannelConfiguration();
        const uint32_t capacity = *channelCount;
        *channelCount = static_cast<uint32_t>(records.size());
        if (channels == nullptr) {
            return QELTBLE_SUCCESS;
        }
        if (capacity < records.size()) {
            throw ApiException("channels buffer too small for the reported channel count",
                               QELTBLE_ERROR_INVALID_ARGUMENT);
        }
        if (!records.empty()) {
            std::memcpy(channels, records.data(), records.size() * sizeof records[0]);
        }
        return QELTBLE_SUCCESS;
    });
}

QELTBLE_API int32_t QELTBLE_SetActiveLayout(QELTBLE_HANDLE handle, uint8_t channelCount,
                                            uint16_t framesPerNotification, uint8_t bytesPerSample,
                                            bool littleEndian, uint16_t samplingRate) {
    return CallFrame([&]() -> int32_t {
        return Lookup(handle).SetActiveLayout(channelCount, framesPerNotification, bytesPerSample,
                                              littleEndian, samplingRate);
    });
}

QELTBLE_API int32_t QELTBLE_RegisterDataAvailableCallback(
    QELTBLE_HANDLE handle, QELTBLE_DATA_AVAILABLE_CALLBACK callback) {
    return CallFrame([&]() -> int32_t {
        Lookup(handle).RegisterDataAvailableCallback(callback);
        return QELTBLE_SUCCESS;
    });
}

QELTBLE_API int32_t QELTBLE_SetFramesPerCallback(QELTBLE_HANDLE handle, uint32_t frames) {
    return CallFrame([&]() -> int32_t {
        Lookup(handle).SetFramesPerCallback(frames);
        return QELTBLE_SUCCESS;
    });
}

QELTBLE_API int32_t QELTBLE_RegisterDataAvailableBatchedCallback(
    QELTBLE_HANDLE handle, QELTBLE_DATA_AVAILABLE_BATCHED_CALLBACK callback) {
    return CallFrame([&]() -> int32_t {
        Lookup(handle).RegisterDataAvailableBatchedCallback(callback);
        return QELTBLE_SUCCESS;
    });
}

QELTBLE_API int32_t QELTBLE_RegisterConnectionStateCallback(
    QELTBLE_HANDLE handle, QELTBLE_CONNECTION_STATE_CALLBACK callback) {
    return CallFrame([&]() -> int32_t {
        Lookup(handle).RegisterConnectionStateCallback(callback);
        return QELTBLE_SUCCESS;
    });
}

QELTBLE_API int32_t QELTBLE_SendFrame(QELTBLE_HANDLE handle, uint8_t command,
                                      const uint8_t* payload, uint16_t payloadLength,
                                      uint8_t* status, uint8_t* response, uint16_t* responseLength,
                                      uint32_t timeoutMs) {
    return CallFrame([&]() -> int32_t {
        IDevice& device = Lookup(handle);
        const std::vector<uint8_t> request = qelt::BuildRequest(command, payload, payloadLength);
        if (request.empty()) {
            throw ApiException("SendFrame: payload too large", QELTBLE_ERROR_INVALID_ARGUMENT);
        }
        const std::vector<uint8_t> received =
            device.SendNusCommand(request.data(), static_cast<uint32_t>(request.size()), timeoutMs);
        qelt::ParsedResponse parsed;
        if (!qelt::ParseResponse(received.data(), received.size(), parsed)) {
            throw ApiException("SendFrame: malformed response frame", QELTBLE_ERROR_COMMUNICATION);
        }
        if (status != nullptr) {
            *status = parsed.status;
        }
        if (response != nullptr && responseLength != nullptr) {
            const uint16_t copied = std::min(parsed.payloadLength, *responseLength);
            if (copied != 0) {
                std::memcpy(response, parsed.payload, copied);
            }
            *responseLength = copied;
        } else if (responseLength != nullptr) {
            *responseLength = parsed.payloadLength;
        }
        return QELTBLE_SUCCESS;
    });
}

QELTBLE_API int32_t QELTBLE_Shutdown(void) {
    return CallFrame([]() -> int32_t {
        HandleManager::GetInstance().CloseAll();
        BLEFactory::GetInstance().GetAdapter()->Shutdown();
        return QELTBLE_SUCCESS;
    });
}

}  // extern "C"
