#include "api/ApiException.h"

namespace Qelt::BLE {

ApiException::ApiException(const std::string& message, int32_t errorCode)
    : std::logic_error(message), code(errorCode) {}

ApiException::~ApiException() = default;

}  // namespace Qelt::BLE
