#include "api/ErrorText.h"

#include <cstring>

namespace Qelt::BLE {

namespace {
thread_local char errorText[kErrorTextSize] = {};
}

void SetErrorText(const char* message) noexcept {
    if (message == nullptr) {
        message = "";
    }
    std::size_t length = std::strlen(message);
    if (length > kErrorTextSize - 1) {
        length = kErrorTextSize - 1;
    }
    std::memcpy(errorText, message, length);
    errorText[length] = '\0';
}

const char* GetErrorText() noexcept {
    return errorText;
}

}  // namespace Qelt::BLE
