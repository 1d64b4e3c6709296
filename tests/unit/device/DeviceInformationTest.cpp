// The device information record: texts cut to the field, and the channel
// types derived from the channel records.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "device/DeviceInformation.h"

using Qelt::BLE::ChannelMap;
using Qelt::BLE::FillDerivedInformation;
using Qelt::BLE::StoreText;
using testing::ElementsAreArray;

namespace {

std::string FieldBytes(const char (&field)[QELTBLE_STRING_LENGTH_MAX]) {
    return std::string(field, sizeof field);
}

std::vector<uint8_t> Types(const QELTBLE_DEVICE_INFORMATION& info) {
    return std::vector<uint8_t>(std::begin(info.channelTypes), std::end(info.channelTypes));
}

QELTBLE_AMPLIFIER_CONFIGURATION Amplifier(uint16_t channels, uint16_t rate) {
    QELTBLE_AMPLIFIER_CONFIGURATION amplifier{};
    amplifier.samplingRate = rate;
    amplifier.channelCount = channels;
    amplifier.channelConfigCount = channels;
    amplifier.payloadConfigCount = channels;
    return amplifier;
}

}  // namespace

TEST(DeviceInformation, TextsAreCutAndZeroTerminated) {
    struct Case {
        std::string value;
        std::string stored;
    };
    const Case cases[] = {
        {"QX-32", "QX-32"},
        {std::string(254, 'a'), std::string(254, 'a')},
        {std::string(300, 'b'), std::string(254, 'b')},
        {std::string("QX\0-32", 6), "QX"},
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        char field[QELTBLE_STRING_LENGTH_MAX];
        std::memset(field, 'x', sizeof field);
        StoreText(field, c.value);
        std::string expected = c.stored;
        expected.resize(QELTBLE_STRING_LENGTH_MAX, '\0');
        EXPECT_EQ(FieldBytes(field), expected);
    }
}

TEST(DeviceInformation, ChannelTypesEndWithBatteryAndValidity) {
    QELTBLE_DEVICE_INFORMATION info;
    std::memset(&info, 0xAB, sizeof info);
    ChannelMap channels = {{1, {1, 1, 1, 1.0f}}, {2, {2, 1, 2, 1.0f}}, {3, {3, 5, 3, 1.0f}}};
    FillDerivedInformation(info, channels, Amplifier(3, 500));
    std::vector<uint8_t> expected = {1, 1, 5, 4, 9};
    expected.resize(QELTBLE_NUMBER_OF_CHANNELS_MAX, 0);
    EXPECT_THAT(Types(info), ElementsAreArray(expected));
    EXPECT_EQ(info.numberOfAcquiredChannels, 5);
    EXPECT_EQ(info.samplingRate, 500);
    EXPECT_EQ(channels.size(), 3u);
}

TEST(DeviceInformation, IdsWithoutARecordGetAZeroRecord) {
    // Three records, but for channels 1, 2 and 7: channel 3 is reported
    // with type 0 and gets a zero record.
    QELTBLE_DEVICE_INFORMATION info{};
    ChannelMap channels = {{1, {1, 1, 1, 1.0f}}, {2, {2, 5, 2, 1.0f}}, {7, {7, 1, 7, 1.0f}}};
    FillDerivedInformation(info, channels, Amplifier(3, 256));
    EXPECT_EQ(Types(info)[2], 0);
    EXPECT_EQ(Types(info)[3], 4);
    EXPECT_EQ(Types(info)[4], 9);
    ASSERT_EQ(channels.count(3), 1u);
    EXPECT_EQ(channels[3].channelId, 0);
    EXPECT_EQ(channels[3].channelType, 0);
}

TEST(DeviceInformation, AtMost62ChannelsAreReported) {
    QELTBLE_DEVICE_INFORMATION info{};
    ChannelMap channels;
    for (uint16_t id = 1; id <= 64; ++id) {
        channels[id] = {id, 2, static_cast<uint8_t>(id), 1.0f};
    }
    FillDerivedInformation(info, channels, Amplifier(62, 256));
    const std::vector<uint8_t> types = Types(info);
    EXPECT_EQ(std::count(types.begin(), types.begin() + 62, 2), 62);
    EXPECT_EQ(types[62], 4);
    EXPECT_EQ(types[63], 9);
    EXPECT_EQ(info.numberOfAcquiredChannels, 64);
}

TEST(DeviceInformation, TypesFollowTheFrameColumnsWhenRecordsAndCountDisagree) {
    struct Case {
        uint16_t count;
        uint16_t records;
        std::vector<uint8_t> types;
    };
    const Case cases[] = {
        {2, 4, {3, 3, 4, 9}},        // records beyond the count are not columns
        {4, 2, {3, 3, 0, 0, 4, 9}},  // missing records are columns of type 0
    };
    for (const Case& c : cases) {
        QELTBLE_DEVICE_INFORMATION info{};
        ChannelMap channels;
        for (uint16_t id = 1; id <= c.records; ++id) {
            channels[id] = {id, 3, static_cast<uint8_t>(id), 1.0f};
        }
        FillDerivedInformation(info, channels, Amplifier(c.count, 256));
        std::vector<uint8_t> expected = c.types;
        expected.resize(QELTBLE_NUMBER_OF_CHANNELS_MAX, 0);
        EXPECT_THAT(Types(info), ElementsAreArray(expected)) << c.count << "/" << c.records;
        EXPECT_EQ(info.numberOfAcquiredChannels, c.count + 2);
    }
}
