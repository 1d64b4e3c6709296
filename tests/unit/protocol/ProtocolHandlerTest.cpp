#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ApiErrorAssertion.h"
#include "protocol/QeltLegacyProtocolHandler.h"
#include "protocol/QeltNusProtocolHandler.h"

using namespace Qelt::BLE;
using Qelt::BLE::Testing::ThrowsApiError;

namespace {

const std::string kData = "B5211405-449F-4BA0-A651-B887924B81E8";
const std::string kNus = "6E400001-B5A3-F393-E0A9-E50E24DCCA9E";

std::vector<std::string> AllRoles(const ProtocolUUIDs& u) {
    return {u.dataService,
            u.dataCharacteristic,
            u.nusService,
            u.nusRx,
            u.nusTx,
            u.amplifierConfigCharacteristic,
            u.channelConfigCharacteristic,
            u.payloadConfigCharacteristic,
            u.filterConfigCharacteristic};
}

}  // namespace

TEST(ProtocolHandler, IdentitiesAndCapabilityFlags) {
    QeltLegacyProtocolHandler legacy;
    EXPECT_EQ(legacy.GetProtocolName(), "Qelt Legacy");
    EXPECT_EQ(legacy.GetProtocolVersion(), "1.0");
    EXPECT_EQ(legacy.GetBytesPerChannel(), 3);
    EXPECT_TRUE(legacy.RequiresChannelConfiguration());
    EXPECT_TRUE(legacy.RequiresPayloadConfiguration());
    EXPECT_TRUE(legacy.RequiresFilterConfiguration());
    EXPECT_FALSE(legacy.UsesNusForConfig());

    QeltNusProtocolHandler nus;
    EXPECT_EQ(nus.GetProtocolName(), "Qelt NUS");
    EXPECT_EQ(nus.GetProtocolVersion(), "2.0");
    EXPECT_EQ(nus.GetBytesPerChannel(), 3);
    EXPECT_FALSE(nus.RequiresChannelConfiguration());
    EXPECT_FALSE(nus.RequiresPayloadConfiguration());
    EXPECT_FALSE(nus.RequiresFilterConfiguration());
    EXPECT_TRUE(nus.UsesNusForConfig());
}

TEST(ProtocolHandler, UuidSetsListEachRoleOrLeaveItEmpty) {
    EXPECT_THAT(AllRoles(QeltLegacyProtocolHandler().GetUUIDs()),
                ::testing::ElementsAre(kData, "B5211406-449F-4BA0-A651-B887924B81E8", "", "", "",
                                       "B5211407-449F-4BA0-A651-B887924B81E8",
                                       "B5211409-449F-4BA0-A651-B887924B81E8",
                                       "B5211408-449F-4BA0-A651-B887924B81E8",
                                       "B521140A-449F-4BA0-A651-B887924B81E8"));
    EXPECT_THAT(AllRoles(QeltNusProtocolHandler().GetUUIDs()),
                ::testing::ElementsAre(kData, "B5211406-449F-4BA0-A651-B887924B81E8", kNus,
                                       "6E400002-B5A3-F393-E0A9-E50E24DCCA9E",
                                       "6E400003-B5A3-F393-E0A9-E50E24DCCA9E", "", "", "", ""));
}

TEST(ProtocolHandler, CanHandleDeviceMatchesItsServiceIgnoringCaseOnly) {
    struct Case {
        const char* what;
        std::vector<std::string> services;
        bool legacy;
        bool nus;
    };
    const std::vector<Case> cases = {
        {"empty list", {}, false, false},
        {"NUS service in lower case", {"6e400001-b5a3-f393-e0a9-e50e24dcca9e"}, false, true},
        {"both services", {kNus, kData}, true, true},
        {"data service in mixed case after others",
         {"0000180F-0000-1000-8000-00805F9B34FB", "b5211405-449f-4Ba0-A651-b887924b81e8"},
         true,
         false},
        {"short forms", {"1405", "180F", "6E400001"}, false, false},
        {"surrounding spaces", {" " + kData, kNus + " "}, false, false},
        {"prefix of a service", {kData.substr(0, 35)}, false, false},
    };
    const QeltLegacyProtocolHandler legacy;
    const QeltNusProtocolHandler nus;
    for (const Case& c : cases) {
        EXPECT_EQ(legacy.CanHandleDevice(c.services), c.legacy) << c.what;
        EXPECT_EQ(nus.CanHandleDevice(c.services), c.nus) << c.what;
    }
}

TEST(ProtocolHandler, BatteryLevelIsTheFirstByteAndEmptyDiffersByGeneration) {
    QeltLegacyProtocolHandler legacy;
    QeltNusProtocolHandler nus;
    for (IProtocolHandler* handler : std::vector<IProtocolHandler*>{&legacy, &nus}) {
        EXPECT_EQ(handler->ParseBatteryLevel("\xC8"), 200);
        EXPECT_EQ(handler->ParseBatteryLevel(std::string("\xFF\x01", 2)), 255);
        EXPECT_EQ(handler->ParseBatteryLevel(std::string("\x00\x64", 2)), 0);
    }
    EXPECT_TRUE(
        ThrowsApiError([&] { legacy.ParseBatteryLevel(""); }, "Empty battery level value.", 3));
    EXPECT_EQ(nus.ParseBatteryLevel(""), 0);
}

TEST(ProtocolHandler, NusSampleFormatStartsAtThreeBytesAndRefusesOtherWidths) {
    QeltNusProtocolHandler nus;
    EXPECT_EQ(nus.GetBytesPerChannel(), 3);
    nus.SetSampleFormat(4, true);
    EXPECT_EQ(nus.GetBytesPerChannel(), 4);

    for (unsigned char width : {0, 1, 2, 5, 255}) {
        EXPECT_TRUE(ThrowsApiError([&] { nus.SetSampleFormat(width, false); },
                                   "Sample width must be 3 or 4 bytes.", 4))
            << int{width};
    }
    // The refused calls left the 4-byte little-endian format in place.
    const QELTBLE_AMPLIFIER_CONFIGURATION amplifier{1, 1, 7.5f, 4, 1, 1, 0};
    const PayloadLayout layout{{1, 0}};
    float out = 0;
    nus.ConvertPayload(std::string("\xFE\xFF\xFF\xFF", 4), &out, 1, &amplifier, &layout);
    EXPECT_EQ(out, -2.0f);
}

TEST(ProtocolHandler, OperationsOfTheOtherGenerationLeaveEverythingUntouched) {
    QeltNusProtocolHandler nus;
    const std::string value(32, '\x11');

    QELTBLE_AMPLIFIER_CONFIGURATION amplifier;
    QELTBLE_CHANNEL_CONFIGURATION channel;
    QELTBLE_PAYLOADCHANNEL_CONFIGURATION slot;
    QELTBLE_FILTERCHANNEL_CONFIGURATION filter;
    std::memset(&amplifier, 0xAB, sizeof amplifier);
    std::memset(&channel, 0xAB, sizeof channel);
    std::memset(&slot, 0xAB, sizeof slot);
    std::memset(&filter, 0xAB, sizeof filter);
    nus.ParseAmplifierConfiguration(value, &amplifier);
    nus.ParseChannelConfiguration(value, &channel);
    nus.ParsePayloadChannelConfiguration(value, &slot);
    nus.ParseFilterChannelConfiguration(value, &filter);
    const std::vector<unsigned char> untouched(sizeof amplifier, 0xAB);
    EXPECT_EQ(std::memcmp(&amplifier, untouched.data(), sizeof amplifier), 0);
    EXPECT_EQ(std::memcmp(&channel, untouched.data(), sizeof channel), 0);
    EXPECT_EQ(std::memcmp(&slot, untouched.data(), sizeof slot), 0);
    EXPECT_EQ(std::memcmp(&filter, untouched.data(), sizeof filter), 0);

    // Each handler ignores the conversion form of the other generation.
    const QELTBLE_AMPLIFIER_CONFIGURATION config{1, 1, 0.0f, 3, 1, 1, 0};
    const ChannelMap channels{{1, {1, 1, 1, 1.0f}}};
    const FilterMap filters;
    const PayloadLayout layout{{1, 0}};
    float out = 42.0f;
    nus.ConvertPayload(std::string("\x00\x00\x01", 3), &out, 1, &config, &channels, &filters,
                       &layout);
    EXPECT_EQ(out, 42.0f);
    QeltLegacyProtocolHandler().ConvertPayload(std::string("\x00\x00\x01", 3), &out, 1, &config,
                                               &layout);
    EXPECT_EQ(out, 42.0f);
}
