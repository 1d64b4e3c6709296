// Faulty configuration records of legacy amplifiers, end to end through the
// exports: an amplifier configuration that is short or inconsistent is
// rejected at once, a burst of records that stays incomplete (records
// missing or too short to decode) fails after the wait, and every attempt of
// the open fails the same way without issuing a handle. A payload layout
// that names a channel without a channel record opens, but every sample
// notification is dropped while the stream goes on.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "DeviceTestSupport.h"
#include "Simulator.h"
#include "qeltble.h"

using namespace QeltDeviceTest;
using QeltTest::Simulator;

namespace {

struct Case {
    const char* serial;
    std::vector<std::string> settings;
    const char* message;
};

// Every failure of an open is retried: three connections, and the last
// attempt's message with code 3.
void ExpectEveryAttemptFails(Simulator& sim, const Case& c) {
    SCOPED_TRACE(std::string(c.serial) + ": " + c.message);
    const uint64_t connects = sim.CallCount("Connect");
    ExpectOpenFails(c.serial, 3, c.message);
    EXPECT_EQ(sim.CallCount("Connect"), connects + 3);
}

std::atomic<size_t> framesReceived{0};
std::atomic<size_t> stateReports{0};

void CountFrame(QELTBLE_HANDLE, const float*, uint32_t) {
    ++framesReceived;
}

void CountState(QELTBLE_HANDLE, uint32_t) {
    ++stateReports;
}

}  // namespace

TEST(ConfigurationFaults, AmplifierConfigurationThatIsShortOrInconsistentIsRejected) {
    UseShortTimings();
    // The default legacy amplifier reports 9 channels, 33 payload records
    // and 2 filter records.
    const Case cases[] = {
        {"AB-0003.00.01", {"amplifier-config-length=15"}, "Truncated amplifier configuration."},
        {"AB-0003.00.02", {"amplifier-config="}, "Truncated amplifier configuration."},
        {"AB-0003.00.03", {"reported-channel-count=8"}, "Invalid amplifier configuration."},
        // Raw: 256 Hz, 3 channels, aux 1.0, 6 bytes, 2 channel records, 2
        // payload records, no filters.
        {"AB-0003.00.04",
         {"amplifier-config=00010300"
          "0000803f"
          "06000200"
          "02000000"},
         "Invalid amplifier configuration."},
        {"AB-0003.00.05", {"reported-payload-config-count=0"}, "Invalid payload configuration."},
        {"AB-0003.00.06",
         {"reported-channel-count=0", "reported-channel-config-count=0"},
         "Invalid channel configuration."},
        // The payload count is checked before the channel count.
        {"AB-0003.00.07",
         {"reported-channel-count=0", "reported-channel-config-count=0",
          "reported-payload-config-count=0"},
         "Invalid payload configuration."},
        {"AB-0003.00.08",
         {"channels=63", "frames-per-notification=1"},
         "Amplifier reports too many channels."},
        {"AB-0003.00.09",
         {"reported-channel-count=65535", "reported-channel-config-count=65535"},
         "Amplifier reports too many channels."},
    };
    std::vector<std::string> options = AmplifierOptions(cases);
    // The largest amplifier accepted: its 62 channels and the two extra
    // columns fill all 64 channel types.
    options.insert(options.end(), {"--amplifier", "AB-0003.00.62:legacy", "--set", "channels=62",
                                   "--set", "frames-per-notification=1"});
    Simulator sim(SimOptions(options));
    const CloseAllAtEnd closeAll;
    for (const Case& c : cases) {
        ExpectEveryAttemptFails(sim, c);
        // The amplifier configuration is read before any record burst.
        EXPECT_EQ(sim.CallCount("StartNotify"), 0u);
    }

    QELTBLE_HANDLE handle = 0;
    ASSERT_EQ(QELTBLE_OpenDevice("AB-0003.00.62", &handle), 0) << LastError();
    EXPECT_EQ(handle, 1u) << "a failed open issued a handle";
    QELTBLE_DEVICE_INFORMATION info;
    std::memset(&info, 0xAB, sizeof info);
    ASSERT_EQ(QELTBLE_GetDeviceInformation(handle, &info), 0);
    EXPECT_EQ(info.numberOfAcquiredChannels, 64);
    EXPECT_EQ(info.channelTypes[0], 1);
    EXPECT_EQ(info.channelTypes[61], QELTBLE_CHANNEL_TYPE_COUNTER);
    EXPECT_EQ(info.channelTypes[62], QELTBLE_CHANNEL_TYPE_BATTERY);
    EXPECT_EQ(info.channelTypes[63], QELTBLE_CHANNEL_TYPE_VALIDITY);
    uint32_t count = 0;
    ASSERT_EQ(QELTBLE_GetChannelConfiguration(handle, nullptr, &count), 0);
    EXPECT_EQ(count, 62u);
}

TEST(ConfigurationFaults, IncompleteRecordBurstOfOneKindFailsEveryAttempt) {
    UseShortTimings();
    // Records cut short do not decode: the record callbacks drop them, and
    // the burst stays incomplete like one that stops early.
    const Case cases[] = {
        {"AB-0004.00.01", {"channel-record-limit=8"}, "Could not read channel configuration."},
        {"AB-0004.00.02", {"payload-record-limit=32"}, "Could not read payload configuration."},
        {"AB-0004.00.03", {"filter-record-limit=1"}, "Could not read filter configuration."},
        {"AB-0004.00.04", {"channel-record-length=7"}, "Could not read channel configuration."},
        {"AB-0004.00.05", {"payload-record-length=3"}, "Could not read payload configuration."},
        {"AB-0004.00.06", {"filter-record-length=15"}, "Could not read filter configuration."},
        {"AB-0004.00.07", {"payload-record-length=0"}, "Could not read payload configuration."},
    };
    std::vector<std::string> options = AmplifierOptions(cases);
    options.insert(options.end(), {"--amplifier", std::string(kLegacySerial) + ":legacy"});
    Simulator sim(SimOptions(options));
    const CloseAllAtEnd closeAll;
    for (const Case& c : cases) {
        ExpectEveryAttemptFails(sim, c);
    }
    QELTBLE_HANDLE handle = 0;
    ASSERT_EQ(QELTBLE_OpenDevice(kLegacySerial, &handle), 0) << LastError();
    EXPECT_EQ(handle, 1u) << "a failed open issued a handle";
}

TEST(ConfigurationFaults, LayoutNamingAChannelWithoutARecordDropsEveryNotification) {
    UseShortTimings();
    ASSERT_EQ(setenv("QELTBLE_DEBUG_STREAM", "1", 1), 0);
    // The default legacy amplifier's layout has 33 slots: four frames of
    // channels 1 to 8 with the counter channel 9 in the first.
    const Case cases[] = {
        {"AB-0005.00.01", {"payload-record-channels=0:99"}, "the first slot"},
        {"AB-0005.00.02",
         {"payload-record-channels=32:10"},
         "the last slot, one past the channels"},
        {"AB-0005.00.03", {"payload-record-channels=5:0"}, "channel 0"},
        {"AB-0005.00.04", {"payload-record-channels=17:65535"}, "the largest id"},
    };
    Simulator sim(SimOptions(AmplifierOptions(cases)));
    const CloseAllAtEnd closeAll;
    testing::internal::CaptureStderr();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.serial) + ": " + c.message);
        QELTBLE_HANDLE handle = 0;
        ASSERT_EQ(QELTBLE_OpenDevice(c.serial, &handle), 0) << LastError();
        QELTBLE_DEVICE_INFORMATION info{};
        ASSERT_EQ(QELTBLE_GetDeviceInformation(handle, &info), 0);
        EXPECT_EQ(info.numberOfAcquiredChannels, 11);
        uint32_t count = 0;
        ASSERT_EQ(QELTBLE_GetChannelConfiguration(handle, nullptr, &count), 0);
        EXPECT_EQ(count, 9u);

        ASSERT_EQ(QELTBLE_RegisterConnectionStateCallback(handle, &CountState), 0);
        ASSERT_EQ(QELTBLE_RegisterDataAvailableCallback(handle, &CountFrame), 0) << LastError();
        const std::string counter = "notifications:" + std::string(c.serial);
        ASSERT_TRUE(WaitFor([&] { return sim.Counters()[counter] >= 24; }))
            << "the stream did not go on";
        EXPECT_EQ(framesReceived.load(), 0u);
        EXPECT_EQ(stateReports.load(), 0u) << "the link was lost";
        EXPECT_EQ(QELTBLE_CloseDevice(&handle), 0) << LastError();
    }
    // Each notification is dropped for what it is.
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "[qeltble] OnEEGAvailable: first EEG notification (99 bytes)\n"
              "[qeltble] OnEEGAvailable parse error (payload dropped): Payload references unknown "
              "channel id.\n");
}
