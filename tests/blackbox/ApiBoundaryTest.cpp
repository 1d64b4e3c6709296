// The exported boundary as an application sees it: only the shared library
// and its header.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "qeltble.h"

extern "C" size_t qeltble_c_device_information_size(void);

namespace {

std::string LastError() {
    return QELTBLE_GetLastErrorText();
}

std::string LastErrorOnFreshThread() {
    std::string text;
    std::thread([&] { text = QELTBLE_GetLastErrorText(); }).join();
    return text;
}

}  // namespace

TEST(ApiBoundary, ApiVersionIsAvailableBeforeAnythingElse) {
    EXPECT_STREQ(QELTBLE_GetApiVersion(), "1.24.2.0");
}

TEST(ApiBoundary, RecordsHaveTheSameSizeInC) {
    EXPECT_EQ(qeltble_c_device_information_size(), 1344u);
}

TEST(ApiBoundary, ErrorTextIsPerThread) {
    EXPECT_EQ(LastError(), "");
    QELTBLE_HANDLE handle = 0;
    EXPECT_EQ(QELTBLE_OpenDevice(nullptr, &handle), -1);
    EXPECT_EQ(LastError(), "Device name must not be null.");
    EXPECT_EQ(LastErrorOnFreshThread(), "");

    // A failure on another thread does not change this thread's text.
    std::thread([] {
        uint32_t count = 0;
        EXPECT_EQ(QELTBLE_GetChannelConfiguration(0, nullptr, nullptr), 4);
        EXPECT_STREQ(QELTBLE_GetLastErrorText(), "channelCount must not be null");
        (void)count;
    }).join();
    EXPECT_EQ(LastError(), "Device name must not be null.");
}

TEST(ApiBoundary, SuccessLeavesThePreviousErrorText) {
    EXPECT_EQ(QELTBLE_CloseDevice(nullptr), 1);
    EXPECT_EQ(QELTBLE_SetDefaultGeneration(1), 0);
    EXPECT_EQ(LastError(), "Handle must not be null");
}

TEST(ApiBoundary, DefaultGenerationAcceptsZeroToTwo) {
    EXPECT_EQ(QELTBLE_GetDefaultGeneration(), 0u);
    for (uint32_t generation : {1u, 2u, 0u}) {
        EXPECT_EQ(QELTBLE_SetDefaultGeneration(generation), 0);
        EXPECT_EQ(QELTBLE_GetDefaultGeneration(), generation);
    }
    EXPECT_EQ(QELTBLE_SetDefaultGeneration(2), 0);
    EXPECT_EQ(QELTBLE_SetDefaultGeneration(3), 4);
    EXPECT_EQ(QELTBLE_GetDefaultGeneration(), 2u);
    EXPECT_EQ(LastError(), "");
}

TEST(ApiBoundary, OpenDeviceChecksHandlePointerBeforeSerialNumber) {
    EXPECT_EQ(QELTBLE_OpenDevice(nullptr, nullptr), -1);
    EXPECT_EQ(LastError(), "Handle must not be null.");
    QELTBLE_HANDLE handle = 77;
    EXPECT_EQ(QELTBLE_OpenDevice(nullptr, &handle), -1);
    EXPECT_EQ(LastError(), "Device name must not be null.");
    EXPECT_EQ(handle, 77u);
}

TEST(ApiBoundary, CloseDeviceWithNullPointer) {
    EXPECT_EQ(QELTBLE_CloseDevice(nullptr), 1);
    EXPECT_EQ(LastError(), "Handle must not be null");
}

TEST(ApiBoundary, ChannelConfigurationChecksCountPointerFirst) {
    QELTBLE_CHANNEL_CONFIGURATION channels[2];
    EXPECT_EQ(QELTBLE_GetChannelConfiguration(12345, channels, nullptr), 4);
    EXPECT_EQ(LastError(), "channelCount must not be null");
}

TEST(ApiBoundary, CloseDeviceOfAnUnknownHandleZeroesTheVariable) {
    QELTBLE_HANDLE handle = 42;
    EXPECT_EQ(QELTBLE_CloseDevice(&handle), 1);
    EXPECT_EQ(LastError(), "Invalid device handle.");
    EXPECT_EQ(handle, 0u);
}

// Every device export resolves its handle before it looks at its other
// arguments, so even null arguments report the invalid handle.
TEST(ApiBoundary, DeviceExportsCheckTheHandleFirst) {
    QELTBLE_DEVICE_INFORMATION info;
    uint32_t count = 0;
    uint16_t length = 0;
    const struct {
        const char* name;
        int32_t result;
    } calls[] = {
        {"GetDeviceInformation", QELTBLE_GetDeviceInformation(0, &info)},
        {"GetChannelConfiguration", QELTBLE_GetChannelConfiguration(0, nullptr, &count)},
        {"SetActiveLayout", QELTBLE_SetActiveLayout(0, 8, 4, 3, false, 250)},
        {"RegisterDataAvailableCallback", QELTBLE_RegisterDataAvailableCallback(0, nullptr)},
        {"SetFramesPerCallback", QELTBLE_SetFramesPerCallback(0, 0)},
        {"RegisterDataAvailableBatchedCallback",
         QELTBLE_RegisterDataAvailableBatchedCallback(0, nullptr)},
        {"RegisterConnectionStateCallback", QELTBLE_RegisterConnectionStateCallback(0, nullptr)},
        {"SendFrame", QELTBLE_SendFrame(0, 1, nullptr, 600, nullptr, nullptr, &length, 0)},
        {"Echo", QELTBLE_Echo(0, nullptr, nullptr, nullptr)},
        {"ResetDevice", QELTBLE_ResetDevice(0)},
        {"ListImages", QELTBLE_ListImages(0, nullptr, nullptr)},
        {"EraseImage", QELTBLE_EraseImage(0)},
        {"UploadImage", QELTBLE_UploadImage(0, nullptr, 0, nullptr, nullptr, nullptr)},
        {"TestImage", QELTBLE_TestImage(0, nullptr)},
        {"ConfirmImage", QELTBLE_ConfirmImage(0)},
    };
    for (const auto& call : calls) {
        EXPECT_EQ(call.result, 1) << call.name;
    }
    EXPECT_EQ(LastError(), "Invalid device handle.");
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(length, 0u);
}
