// Assertion that an operation throws ApiException with a given message and
// code, for EXPECT_TRUE / ASSERT_TRUE.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <exception>
#include <string>

#include "api/ApiException.h"

namespace Qelt::BLE::Testing {

template <typename Operation>
::testing::AssertionResult ThrowsApiError(Operation&& operation, const std::string& message,
                                          int32_t code) {
    try {
        operation();
    } catch (const ApiException& e) {
        if (e.what() == message && e.code == code) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure()
               << "threw \"" << e.what() << "\" (" << e.code << "), expected \"" << message
               << "\" (" << code << ")";
    } catch (const std::exception& e) {
        return ::testing::AssertionFailure() << "threw a non-API exception: " << e.what();
    }
    return ::testing::AssertionFailure() << "did not throw \"" << message << "\"";
}

}  // namespace Qelt::BLE::Testing
