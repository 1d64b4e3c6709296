#include "log/StreamDebug.h"

#include <cstdlib>
#include <cstring>

namespace Qelt::BLE {

bool StreamDebugEnabled() noexcept {
    static const bool enabled = [] {
        const char* value = std::getenv("QELTBLE_DEBUG_STREAM");
        return value != nullptr && std::strcmp(value, "1") == 0;
    }();
    return enabled;
}

}  // namespace Qelt::BLE
