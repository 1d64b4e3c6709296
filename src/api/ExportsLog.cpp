// Log file exports.
#include "api/CallFrame.h"
#include "api/NotAvailable.h"
#include "qeltble.h"

using namespace Qelt::BLE;

extern "C" {

QELTBLE_API int32_t QELTBLE_SetLogFile(const char* path) {
    return CallFrame([&]() -> int32_t {
        (void)path;
        ThrowNotAvailable("QELTBLE_SetLogFile");
    });
}

QELTBLE_API int32_t QELTBLE_GetLogFile(char* buffer, uint32_t size) {
    return CallFrame([&]() -> int32_t {
        (void)buffer;
        (void)size;
        ThrowNotAvailable("QELTBLE_GetLogFile");
    });
}

QELTBLE_API void QELTBLE_Log(int32_t level, const char* file, int32_t line, const char* function,
                             const char* message) {
    (void)level;
    (void)file;
    (void)line;
    (void)function;
    (void)message;
}

}  // extern "C"
