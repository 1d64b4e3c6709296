// What a fuzz target compares between the code under test and its reference:
// whether an operation threw, and with which message and code.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "api/ApiException.h"

namespace Qelt::BLE::Fuzz {

struct Outcome {
    bool threw = false;
    std::string message;
    int32_t code = 0;

    bool operator==(const Outcome&) const = default;
};

// Runs `operation`; an ApiException becomes the outcome, anything else
// escapes and ends the run as a crash.
template <typename Operation>
Outcome Observe(Operation&& operation) {
    try {
        operation();
        return {};
    } catch (const ApiException& e) {
        return {true, e.what(), e.code};
    }
}

inline Outcome Failure(const char* message, int32_t code) {
    return {true, message, code};
}

// Stops the run with a report when an expectation does not hold.
inline void Require(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "fuzz expectation failed: %s\n", what);
        std::abort();
    }
}

inline void RequireSame(const Outcome& actual, const Outcome& expected, const char* what) {
    if (!(actual == expected)) {
        std::fprintf(stderr, "%s: got %s \"%s\" (%d), expected %s \"%s\" (%d)\n", what,
                     actual.threw ? "failure" : "success", actual.message.c_str(), actual.code,
                     expected.threw ? "failure" : "success", expected.message.c_str(),
                     expected.code);
        std::abort();
    }
}

}  // namespace Qelt::BLE::Fuzz
