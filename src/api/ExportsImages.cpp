// Firmware image exports. Each resolves its handle before it checks its
// other arguments.
#include <cstring>

#include "api/CallFrame.h"
#include "api/HandleManager.h"
#include "api/NotAvailable.h"
#include "qeltble.h"

using namespace Qelt::BLE;

namespace {

constexpr std::size_t kEchoMessageMax = 255;

IDevice& Lookup(QELTBLE_HANDLE handle) {
    return *HandleManager::GetInstance().GetDeviceFromHandle(handle);
}

void Require(bool condition, const char* message) {
    if (!condition) {
        throw ApiException(message, QELTBLE_ERROR_INVALID_ARGUMENT);
    }
}

}  // namespace

extern "C" {

QELTBLE_API int32_t QELTBLE_Echo(QELTBLE_HANDLE handle, const char* message, char* response,
                                 uint32_t* responseSize) {
    return CallFrame([&]() -> int32_t {
        Lookup(handle);
        Require(message != nullptr, "Message must not be null.");
        Require(response != nullptr && responseSize != nullptr,
                "Response buffer and size must not be null.");
        Require(*responseSize != 0, "Response buffer size must be non-zero.");
        Require(strnlen(message, kEchoMessageMax + 1) <= kEchoMessageMax,
                "Message too long for echo.");
        ThrowNotAvailable("QELTBLE_Echo");
    });
}

QELTBLE_API int32_t QELTBLE_ResetDevice(QELTBLE_HANDLE handle) {
    return CallFrame([&]() -> int32_t {
        Lookup(handle);
        ThrowNotAvailable("QELTBLE_ResetDevice");
    });
}

QELTBLE_API int32_t QELTBLE_ListImages(QELTBLE_HANDLE handle, QELTBLE_IMAGE_INFORMATION* images,
                                       uint32_t* imageCount) {
    return CallFrame([&]() -> int32_t {
        Lookup(handle);
        Require(images != nullptr && imageCount != nullptr,
                "Images array and count must not be null.");
        ThrowNotAvailable("QELTBLE_ListImages");
    });
}

QELTBLE_API int32_t QELTBLE_EraseImage(QELTBLE_HANDLE handle) {
    return CallFrame([&]() -> int32_t {
        Lookup(handle);
        ThrowNotAvailable("QELTBLE_EraseImage");
    });
}

QELTBLE_API int32_t QELTBLE_UploadImage(QELTBLE_HANDLE handle, const uint8_t* data, uint32_t size,
                                        void* /*reserved*/,
                                        QELTBLE_UPLOAD_PROGRESS_CALLBACK progress, void* userData) {
    return CallFrame([&]() -> int32_t {
        Lookup(handle);
        Require(data != nullptr && size != 0, "Image data and size must be valid.");
        (void)progress;
        (void)userData;
        ThrowNotAvailable("QELTBLE_UploadImage");
    });
}

QELTBLE_API int32_t QELTBLE_TestImage(QELTBLE_HANDLE handle, const uint8_t* hash) {
    return CallFrame([&]() -> int32_t {
        Lookup(handle);
        Require(hash != nullptr, "Image hash must not be null.");
        ThrowNotAvailable("QELTBLE_TestImage");
    });
}

QELTBLE_API int32_t QELTBLE_ConfirmImage(QELTBLE_HANDLE handle) {
    return CallFrame([&]() -> int32_t {
        Lookup(handle);
        ThrowNotAvailable("QELTBLE_ConfirmImage");
    });
}

}  // extern "C"
