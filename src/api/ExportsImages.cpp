// Firmware image exports.
#include "api/CallFrame.h"
#include "api/NotAvailable.h"
#include "qeltble.h"

using namespace Qelt::BLE;

extern "C" {

QELTBLE_API int32_t QELTBLE_Echo(QELTBLE_HANDLE handle, const char* message, char* response,
                                 uint32_t* responseSize) {
    return CallFrame([&]() -> int32_t {
        (void)handle;
        (void)message;
        (void)response;
        (void)responseSize;
        ThrowNotAvailable("QELTBLE_Echo");
    });
}

QELTBLE_API int32_t QELTBLE_ResetDevice(QELTBLE_HANDLE handle) {
    return CallFrame([&]() -> int32_t {
        (void)handle;
        ThrowNotAvailable("QELTBLE_ResetDevice");
    });
}

QELTBLE_API int32_t QELTBLE_ListImages(QELTBLE_HANDLE handle, QELTBLE_IMAGE_INFORMATION* images,
                                       uint32_t* imageCount) {
    return CallFrame([&]() -> int32_t {
        (void)handle;
        (void)images;
        (void)imageCount;
        ThrowNotAvailable("QELTBLE_ListImages");
    });
}

QELTBLE_API int32_t QELTBLE_EraseImage(QELTBLE_HANDLE handle) {
    return CallFrame([&]() -> int32_t {
        (void)handle;
        ThrowNotAvailable("QELTBLE_EraseImage");
    });
}

QELTBLE_API int32_t QELTBLE_UploadImage(QELTBLE_HANDLE handle, const uint8_t* data,
                                        uint32_t size, void* reserved,
                                        QELTBLE_UPLOAD_PROGRESS_CALLBACK progress,
                                        void* userData) {
    return CallFrame([&]() -> int32_t {
        (void)handle;
        (void)data;
        (void)size;
        (void)reserved;
        (void)progress;
        (void)userData;
        ThrowNotAvailable("QELTBLE_UploadImage");
    });
}

QELTBLE_API int32_t QELTBLE_TestImage(QELTBLE_HANDLE handle, const uint8_t* hash) {
    return CallFrame([&]() -> int32_t {
        (void)handle;
        (void)hash;
        ThrowNotAvailable("QELTBLE_TestImage");
    });
}

QELTBLE_API int32_t QELTBLE_ConfirmImage(QELTBLE_HANDLE handle) {
    return CallFrame([&]() -> int32_t {
        (void)handle;
        ThrowNotAvailable("QELTBLE_ConfirmImage");
    });
}

}  // extern "C"
