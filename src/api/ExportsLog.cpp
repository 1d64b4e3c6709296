// Log file exports.
#include <algorithm>
#include <cstring>
#include <string>

#include "api/CallFrame.h"
#include "log/QeltLogger.h"
#include "qeltble.h"

using namespace Qelt::BLE;

namespace {

const char* LevelText(int32_t level) {
    switch (level) {
        case QELTBLE_LOG_DEBUG:
            return "DEBUG";
        case QELTBLE_LOG_INFO:
            return "INFO ";
        case QELTBLE_LOG_WARN:
            return "WARN ";
        case QELTBLE_LOG_ERROR:
            return "ERROR";
        default:
            return "?    ";
    }
}

}  // namespace

extern "C" {

QELTBLE_API int32_t QELTBLE_SetLogFile(const char* path) {
    return CallFrame([&]() -> int32_t {
        if (path == nullptr || path[0] == '\0') {
            throw ApiException("QELTBLE_SetLogFile: path is null/empty", QELTBLE_ERROR_GENERAL);
        }
        if (!QeltLogger::Instance().SetPath(path)) {
            throw ApiException("QELTBLE_SetLogFile: could not open log file",
                               QELTBLE_ERROR_GENERAL);
        }
        return QELTBLE_SUCCESS;
    });
}

QELTBLE_API int32_t QELTBLE_GetLogFile(char* buffer, uint32_t size) {
    return CallFrame([&]() -> int32_t {
        if (buffer == nullptr || size == 0) {
            throw ApiException("QELTBLE_GetLogFile: invalid buffer", QELTBLE_ERROR_GENERAL);
        }
        const std::string path = QeltLogger::Instance().Path();
        const std::size_t length = std::min<std::size_t>(path.size(), size - 1);
        std::memcpy(buffer, path.data(), length);
        buffer[length] = '\0';
        return QELTBLE_SUCCESS;
    });
}

QELTBLE_API void QELTBLE_Log(int32_t level, const char* file, int32_t line, const char* function,
                             const char* message) {
    try {
        QeltLogger::Instance().WriteLine(LevelText(level), file, line, function,
                                         message != nullptr ? message : "");
    } catch (...) {
        // Logging never fails for the caller.
    }
}

}  // extern "C"
