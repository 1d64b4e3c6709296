// The device exports over the process-wide handle table, with fake devices
// put behind handles.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "FakeDevice.h"
#include "api/HandleManager.h"
#include "protocol/CommandFrame.h"
#include "qeltble.h"

using namespace Qelt::BLE;
using QeltTest::FakeDevice;

namespace {

struct OpenFake {
    FakeDevice* device;
    QELTBLE_HANDLE handle;
};

OpenFake AddFake(const std::string& serial) {
    auto device = std::make_unique<FakeDevice>(serial);
    FakeDevice* raw = device.get();
    return {raw, HandleManager::GetInstance().AddDevice(std::move(device))};
}

// F0, length, command, status, payload, CRC over everything after F0.
std::vector<uint8_t> ResponseFrame(uint8_t command, uint8_t status,
                                   const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> frame = {0xF0, static_cast<uint8_t>(payload.size() >> 8),
                                  static_cast<uint8_t>(payload.size()), command, status};
    for (const uint8_t byte : payload) {
        frame.push_back(byte);
    }
    const uint16_t crc = qelt::Crc16(frame.data() + 1, frame.size() - 1);
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    frame.push_back(static_cast<uint8_t>(crc));
    return frame;
}

class DeviceExports : public ::testing::Test {
protected:
    void TearDown() override { HandleManager::GetInstance().CloseAll(); }
};

}  // namespace

TEST_F(DeviceExports, ChannelConfigurationQueriesThenFills) {
    auto [device, handle] = AddFake("AB-0001.00.01");
    for (uint16_t id = 1; id <= 8; ++id) {
        device->channels.push_back({id, 1, static_cast<uint8_t>(id), 0.5f * id});
    }

    uint32_t count = 0;
    EXPECT_EQ(QELTBLE_GetChannelConfiguration(handle, nullptr, &count), 0);
    EXPECT_EQ(count, 8u);

    QELTBLE_CHANNEL_CONFIGURATION channels[8] = {};
    count = 3;
    EXPECT_EQ(QELTBLE_GetChannelConfiguration(handle, channels, &count), 4);
    EXPECT_STREQ(QELTBLE_GetLastErrorText(),
                 "channels buffer too small for the reported channel count");
    EXPECT_EQ(count, 8u);
    EXPECT_EQ(channels[0].channelId, 0) << "nothing is copied into too small an array";

    EXPECT_EQ(QELTBLE_GetChannelConfiguration(handle, channels, &count), 0);
    for (uint16_t i = 0; i < 8; ++i) {
        EXPECT_EQ(channels[i].channelId, i + 1);
        EXPECT_FLOAT_EQ(channels[i].scale, 0.5f * (i + 1));
    }
}

TEST_F(DeviceExports, SendFrameDeliversStatusAndPayload) {
    auto [device, handle] = AddFake("AB-0001.00.01");
    const std::vector<uint8_t> payload = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    device->nusResponse = ResponseFrame(0x10, 1, payload);

    const uint8_t request[] = {0xAB, 0xCD};
    uint8_t status = 0;
    uint16_t length = 0;
    EXPECT_EQ(QELTBLE_SendFrame(handle, 0x10, request, 2, &status, nullptr, &length, 100), 0);
    EXPECT_EQ(length, 10u) << "a null buffer asks for the length";
    EXPECT_EQ(status, 1) << "a non-zero status is not a failure";
    EXPECT_EQ(device->lastRequest,
              (std::vector<uint8_t>{0xF0, 0x00, 0x02, 0x10, 0xAB, 0xCD, 0x76, 0x62}));

    uint8_t buffer[4] = {};
    length = sizeof buffer;
    EXPECT_EQ(QELTBLE_SendFrame(handle, 0x10, request, 2, nullptr, buffer, &length, 100), 0);
    EXPECT_EQ(length, 4u);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 4), (std::vector<uint8_t>{1, 2, 3, 4}));

    EXPECT_EQ(QELTBLE_SendFrame(handle, 0x10, request, 2, nullptr, buffer, nullptr, 100), 0)
        << "without a length pointer nothing is delivered";

    device->nusResponse = ResponseFrame(0x10, 0, {});
    length = sizeof buffer;
    EXPECT_EQ(QELTBLE_SendFrame(handle, 0x10, nullptr, 0, nullptr, buffer, &length, 100), 0);
    EXPECT_EQ(length, 0u);
}

TEST_F(DeviceExports, SendFrameFailures) {
    auto [device, handle] = AddFake("AB-0001.00.01");
    std::vector<uint8_t> big(513);
    EXPECT_EQ(QELTBLE_SendFrame(handle, 1, big.data(), 513, nullptr, nullptr, nullptr, 100), 4);
    EXPECT_STREQ(QELTBLE_GetLastErrorText(), "SendFrame: payload too large");
    EXPECT_TRUE(device->lastRequest.empty()) << "nothing is sent";

    for (const auto& response : {std::vector<uint8_t>{}, ResponseFrame(1, 0, {7}) /* + byte */}) {
        device->nusResponse = response;
        if (!response.empty()) {
            device->nusResponse.push_back(0);
        }
        uint8_t status = 9;
        EXPECT_EQ(QELTBLE_SendFrame(handle, 1, nullptr, 0, &status, nullptr, nullptr, 100), 3);
        EXPECT_STREQ(QELTBLE_GetLastErrorText(), "SendFrame: malformed response frame");
        EXPECT_EQ(status, 9);
    }
}

TEST_F(DeviceExports, SetActiveLayoutPassesTheDevicesResultWithoutErrorText) {
    auto [device, handle] = AddFake("AB-0001.00.01");
    device->activeLayoutResult = -1;
    EXPECT_EQ(QELTBLE_SetActiveLayout(handle, 0, 1, 3, false, 250), -1);
    EXPECT_STREQ(QELTBLE_GetLastErrorText(), "");
}

TEST_F(DeviceExports, InformationAndClose) {
    auto [device, handle] = AddFake("AB-0001.00.01");
    QELTBLE_DEVICE_INFORMATION info;
    std::memset(&info, 0xAA, sizeof info);
    EXPECT_EQ(QELTBLE_GetDeviceInformation(handle, &info), 0);
    EXPECT_STREQ(info.serialNumber, "AB-0001.00.01");
    EXPECT_EQ(info.modelNumber[0], '\0');

    QELTBLE_HANDLE copy = handle;
    EXPECT_EQ(QELTBLE_CloseDevice(&handle), 0);
    EXPECT_EQ(handle, 0u);
    EXPECT_EQ(QELTBLE_CloseDevice(&copy), 1);
    EXPECT_STREQ(QELTBLE_GetLastErrorText(), "Invalid device handle.");
}

TEST_F(DeviceExports, OpeningAnOpenSerialNumberReturnsItsHandle) {
    auto [device, handle] = AddFake("AB-0001.00.01");
    QELTBLE_HANDLE opened = 0;
    EXPECT_EQ(QELTBLE_OpenDevice("AB-0001.00.01", &opened), 0);
    EXPECT_EQ(opened, handle);
}
