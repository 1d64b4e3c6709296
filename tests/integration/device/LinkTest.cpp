// The GATT link against the simulator: lookups by UUID, the read, write,
// subscribe and unsubscribe primitives, the routing of notifications, the
// disconnection report and teardown, also while other threads use the link.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "DeviceTestSupport.h"
#include "Simulator.h"
#include "api/ApiException.h"
#include "device/BlueZBleDevice.h"
#include "device/GattLink.h"

using namespace QeltDeviceTest;
using Qelt::BLE::ApiException;
using Qelt::BLE::BlueZBleDevice;
using Qelt::BLE::GattLink;
using QeltTest::Simulator;
using testing::AnyOf;
using testing::StartsWith;

namespace {

constexpr const char* kBatteryLevel = "2A19";

// A link to the simulated legacy amplifier, with its disconnection reports
// counted.
class LinkTest : public testing::Test {
protected:
    LinkTest()
        : sim_(SimOptions({"--amplifier", std::string(kLegacySerial) + ":legacy", "--set",
                           "model-number=QX-32", "--set", "battery=87"})),
          link_(
              ShortTimings(), [] { return false; }, [this] { ++disconnections_; }) {}

    void Open() {
        link_.Connect(kLegacySerial);
        link_.DiscoverServices();
    }

    // The API error of `call`, as "<code> <message>".
    template <typename Call>
    static std::string FailureOf(Call&& call) {
        try {
            call();
        } catch (const ApiException& e) {
            return std::to_string(e.code) + " " + e.what();
        }
        return "no failure";
    }

    Simulator sim_;
    std::atomic<int> disconnections_{0};
    GattLink link_;
};

}  // namespace

TEST_F(LinkTest, CharacteristicsAndServicesAreFoundByAnyFormOfTheirUuid) {
    Open();
    const std::string battery = link_.GetCharacteristicPath("2a19");
    EXPECT_THAT(battery, StartsWith(sim_.Amplifiers().at(kLegacySerial) + "/"));
    EXPECT_EQ(link_.CharacteristicPathOrEmpty("00002A19-0000-1000-8000-00805f9b34fb"), battery);
    EXPECT_TRUE(link_.HasService("180f"));
    EXPECT_TRUE(link_.HasService("b5211405-449f-4ba0-a651-b887924b81e8"));
    EXPECT_FALSE(link_.HasService("6E400001-B5A3-F393-E0A9-E50E24DCCA9E"));

    // An unknown characteristic fails before any bus call, naming the UUID
    // as given.
    const uint64_t reads = sim_.CallCount("ReadValue");
    EXPECT_EQ(FailureOf([&] { link_.Read("180A", "abcd"); }),
              "3 Could not find characteristic 'abcd'.");
    EXPECT_EQ(FailureOf([&] { link_.Subscribe("abcd", [](const std::string&) {}); }),
              "3 Could not find characteristic 'abcd'.");
    EXPECT_EQ(sim_.CallCount("ReadValue"), reads);
    link_.Unsubscribe("abcd");  // nothing to do, no failure
}

TEST_F(LinkTest, ReadsAndWritesReportBlueZFailures) {
    Open();
    EXPECT_EQ(link_.Read("180A", "2A24"), "QX-32");
    // The service does not narrow the lookup.
    EXPECT_EQ(link_.Read("", kBatteryLevel), std::string(1, static_cast<char>(87)));
    EXPECT_EQ(FailureOf([&] { link_.Read("", "B5211406-449F-4BA0-A651-B887924B81E8"); }),
              "3 Failed to read characteristic value: Read not permitted");
    EXPECT_EQ(FailureOf([&] { link_.Write("", "2A24", "x", true); }),
              "3 Failed to write characteristic value: Write not permitted");
}

TEST_F(LinkTest, SubscribingAgainReplacesTheHandler) {
    Open();
    std::atomic<int> first{0};
    std::atomic<int> second{0};
    link_.Subscribe(kBatteryLevel, [&](const std::string&) { ++first; });
    link_.Subscribe(kBatteryLevel, [&](const std::string& value) {
        EXPECT_EQ(value, std::string(1, static_cast<char>(87)));
        ++second;
    });
    // BlueZ signals a read value like a notification.
    link_.Read("", kBatteryLevel);
    ASSERT_TRUE(WaitFor([&] { return second == 1; }));
    link_.Read("180A", "2A24");  // a later signal of another characteristic
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 1) << "one live match per characteristic";

    link_.Unsubscribe(kBatteryLevel);
    link_.Read("", kBatteryLevel);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(second, 1);
}

TEST_F(LinkTest, AThrowingHandlerLeavesTheLinkWorking) {
    Open();
    std::atomic<int> calls{0};
    link_.Subscribe(kBatteryLevel, [&](const std::string&) {
        ++calls;
        throw std::runtime_error("handler failure");
    });
    link_.Read("", kBatteryLevel);
    link_.Read("", kBatteryLevel);
    ASSERT_TRUE(WaitFor([&] { return calls == 2; }));
    EXPECT_EQ(link_.Read("180A", "2A24"), "QX-32");
}

TEST_F(LinkTest, OnlyALossFromTheAmplifierSideIsReported) {
    link_.TeardownConnection();  // never connected: nothing to do
    Open();
    const uint64_t disconnects = sim_.CallCount("Disconnect");
    link_.TeardownConnection();
    EXPECT_EQ(sim_.CallCount("Disconnect"), disconnects + 1);
    EXPECT_EQ(FailureOf([&] { link_.Read("180A", "2A24"); }),
              "3 Could not find characteristic '2A24'.");
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(disconnections_, 0) << "the link's own disconnection";

    Open();
    sim_.SetAmplifierPower(kLegacySerial, false);
    ASSERT_TRUE(WaitFor([&] { return disconnections_ == 1; }));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(disconnections_, 1);
}

TEST_F(LinkTest, CallsDuringTeardownAndReconnectionCompleteOrFailCleanly) {
    Open();
    std::atomic<bool> done{false};
    std::mutex mutex;
    std::set<std::string> outcomes;
    auto use = [&] {
        while (!done) {
            std::string outcome;
            try {
                outcome = link_.Read("180A", "2A24");
            } catch (const ApiException& e) {
                outcome = std::to_string(e.code) + " " + e.what();
            }
            std::lock_guard lock(mutex);
            outcomes.insert(outcome);
        }
    };
    std::thread first(use);
    std::thread second(use);
    for (int round = 0; round < 5; ++round) {
        std::this_thread::sleep_for(20ms);
        link_.TeardownConnection();
        std::this_thread::sleep_for(10ms);
        Open();
    }
    done = true;
    first.join();
    second.join();
    for (const std::string& outcome : outcomes) {
        EXPECT_THAT(outcome, AnyOf("QX-32", "3 Could not find characteristic '2A24'.",
                                   "3 D-Bus connection is not running.",
                                   StartsWith("3 Failed to read characteristic value")));
    }
    EXPECT_EQ(link_.Read("180A", "2A24"), "QX-32");
}

TEST(DeviceLink, DeviceOffersThePrimitivesByCharacteristicUuid) {
    UseShortTimings();
    Simulator sim(SimOptions(
        {"--amplifier", std::string(kNusSerial) + ":nus", "--set", "model-number=QN-8"}));
    BlueZBleDevice device(kNusSerial, nullptr);
    const std::vector<unsigned char> model = device.ReadCharacteristic("180a", "2a24");
    EXPECT_EQ(std::string(model.begin(), model.end()), "QN-8");
    EXPECT_TRUE(device.HasService("6e400001-b5a3-f393-e0a9-e50e24dcca9e"));
    EXPECT_FALSE(device.HasService(nullptr));

    // A command frame written to the UART service is answered on TX.
    const unsigned char frame[] = {0xF0, 0x00, 0x00, 0x01, 0x00, 0x00};
    const uint64_t writes = sim.CallCount("WriteValue");
    device.WriteCharacteristic(nullptr, "6E400002-B5A3-F393-E0A9-E50E24DCCA9E", frame,
                               sizeof frame);
    EXPECT_EQ(sim.CallCount("WriteValue"), writes + 1);
    try {
        device.ReadCharacteristic("180A", nullptr);
        FAIL() << "read without a characteristic";
    } catch (const ApiException& e) {
        EXPECT_EQ(e.code, 3);
        EXPECT_STREQ(e.what(), "Could not find characteristic ''.");
    }
}
