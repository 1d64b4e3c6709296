// The one exception type internal code throws for failures meant for the
// application. The call frame turns it into its code and message.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace Qelt::BLE {

class ApiException : public std::logic_error {
public:
    ApiException(const std::string& message, int32_t errorCode);
    ~ApiException() override;

    int32_t code;
};

}  // namespace Qelt::BLE
