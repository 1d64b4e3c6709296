#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>

#include "api/CallFrame.h"

using namespace Qelt::BLE;

TEST(CallFrame, ReturnsTheOperationsResultAndLeavesTheTextAlone) {
    SetErrorText("earlier failure");
    EXPECT_EQ(CallFrame([] { return 7; }), 7);
    EXPECT_STREQ(GetErrorText(), "earlier failure");
}

TEST(CallFrame, TurnsEachKindOfExceptionIntoCodeAndText) {
    EXPECT_EQ(CallFrame([]() -> int32_t { throw ApiException("api failure", 3); }), 3);
    EXPECT_STREQ(GetErrorText(), "api failure");

    EXPECT_EQ(CallFrame([]() -> int32_t { throw std::runtime_error("plain failure"); }), -1);
    EXPECT_STREQ(GetErrorText(), "plain failure");

    EXPECT_EQ(CallFrame([]() -> int32_t { throw 42; }), -1);
    EXPECT_STREQ(GetErrorText(), "An unknown error appeared.");
}

TEST(CallFrame, KeepsTheFirst255CharactersOfALongMessage) {
    const std::string longMessage(400, 'x');
    EXPECT_EQ(CallFrame([&]() -> int32_t { throw ApiException(longMessage, 4); }), 4);
    EXPECT_EQ(std::strlen(GetErrorText()), 255u);
    EXPECT_EQ(std::string(GetErrorText()), longMessage.substr(0, 255));
}

TEST(CallFrame, CountVariantReturnsItsFallbackOnEveryFailure) {
    EXPECT_EQ(CallFrameOr(0u, []() -> unsigned { return 5; }), 5u);
    EXPECT_EQ(CallFrameOr(0u, []() -> unsigned { throw ApiException("count failed", 2); }), 0u);
    EXPECT_STREQ(GetErrorText(), "count failed");
    EXPECT_EQ(CallFrameOr(0u, []() -> unsigned { throw 1; }), 0u);
    EXPECT_STREQ(GetErrorText(), "An unknown error appeared.");
}

TEST(ApiException, IsALogicErrorCarryingItsCode) {
    const ApiException e("message", -2);
    const std::logic_error& base = e;
    EXPECT_STREQ(base.what(), "message");
    EXPECT_EQ(e.code, -2);
}
