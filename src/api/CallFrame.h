// The call frame wrapped around every export that can fail: it runs the
// export's operation and turns whatever it throws into a result code and the
// calling thread's error text. No exception ever leaves it.
#pragma once

#include <cstdint>
#include <exception>

#include "api/ApiException.h"
#include "api/ErrorText.h"

namespace Qelt::BLE {

inline constexpr const char* kUnknownErrorText = "An unknown error appeared.";

// Runs `operation` and returns its result. On failure the error text is set
// and the result is `ApiException::code`, or -1 for any other exception.
template <typename Operation>
int32_t CallFrame(Operation&& operation) noexcept {
    try {
        return operation();
    } catch (const ApiException& e) {
        SetErrorText(e.what());
        return e.code;
    } catch (const std::exception& e) {
        SetErrorText(e.what());
        return -1;
    } catch (...) {
        SetErrorText(kUnknownErrorText);
        return -1;
    }
}

// As CallFrame, but every failure yields `onFailure` instead of a code; used
// by the export whose result is a count rather than a code.
template <typename Result, typename Operation>
Result CallFrameOr(Result onFailure, Operation&& operation) noexcept {
    try {
        return operation();
    } catch (const std::exception& e) {
        SetErrorText(e.what());
    } catch (...) {
        SetErrorText(kUnknownErrorText);
    }
    return onFailure;
}

}  // namespace Qelt::BLE
