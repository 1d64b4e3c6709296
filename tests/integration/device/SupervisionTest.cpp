// Connection supervision against the simulator: a lost amplifier is reported
// once, reopened on the reconnect thread and streams again without a new
// registration; one that stays away is retried with capped pauses and no
// further reports; closing the handle ends a search after about 1.3 s, a
// Connect that BlueZ holds for a switched-off amplifier as soon, and a pause
// at once.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "DeviceTestSupport.h"
#include "Simulator.h"
#include "qeltble.h"

using namespace QeltDeviceTest;
using QeltTest::Simulator;
using testing::ElementsAre;

namespace {

using Clock = std::chrono::steady_clock;

// What the application's callbacks saw.
class Observed {
public:
    static Observed& Get() {
        // Never destroyed: a late callback may still run while the process
        // exits.
        static Observed* instance = new Observed;
        return *instance;
    }
    static void OnState(QELTBLE_HANDLE handle, uint32_t state) {
        std::lock_guard lock(Get().mutex_);
        Get().handles_.push_back(handle);
        Get().states_.push_back(state);
    }
    static void OnBatch(QELTBLE_HANDLE, const float* values, uint32_t frames, uint32_t width) {
        std::lock_guard lock(Get().mutex_);
        for (uint32_t f = 0; f < frames; ++f) {
            // The counter column of the default legacy amplifier.
            Get().counters_.push_back(values[f * width + 8]);
        }
    }
    static void OnPause(std::chrono::milliseconds pause) {
        std::lock_guard lock(Get().mutex_);
        Get().pauses_.push_back(pause.count());
    }

    std::vector<uint32_t> States() {
        std::lock_guard lock(mutex_);
        return states_;
    }
    std::vector<QELTBLE_HANDLE> Handles() {
        std::lock_guard lock(mutex_);
        return handles_;
    }
    std::vector<float> Counters() {
        std::lock_guard lock(mutex_);
        return counters_;
    }
    size_t FrameCount() {
        std::lock_guard lock(mutex_);
        return counters_.size();
    }
    std::vector<long> Pauses() {
        std::lock_guard lock(mutex_);
        return pauses_;
    }

private:
    std::mutex mutex_;
    std::vector<uint32_t> states_;
    std::vector<QELTBLE_HANDLE> handles_;
    std::vector<float> counters_;
    std::vector<long> pauses_;
};

Observed& Seen() {
    return Observed::Get();
}

// Removes the amplifier's object from BlueZ's tree and switches the
// amplifier off, so that reconnecting has to search for it. The removal is
// asked for first and takes effect with the loss of the link, so the object
// is gone before the device hears of the loss.
void RemoveAndSwitchOff(Simulator& sim, const std::string& serial) {
    const std::string path = sim.Amplifiers().at(serial);
    ASSERT_GE(sd_bus_call_method_async(sim.Connection(), nullptr, "org.bluez", "/org/bluez/hci0",
                                       "org.bluez.Adapter1", "RemoveDevice", nullptr, nullptr, "o",
                                       path.c_str()),
              0);
    sim.RemoveAmplifier(serial);
}

// BlueZ's disconnect timer long enough that the removal waits for the
// switch-off. The amplifier is remembered, so that an open finds it at once
// even with the shortest search.
std::vector<std::string> RemovalOptions() {
    return {"--no-default-devices",
            "--scan-interval-ms",
            "100",
            "--disconnect-delay-ms",
            "5000",
            "--amplifier",
            std::string(kLegacySerial) + ":legacy",
            "--set",
            "remembered=yes"};
}

}  // namespace

TEST(Supervision, SwitchedOffAndOnTheAmplifierIsReportedOnceAndStreamsAgain) {
    UseShortTimings();
    Simulator sim(SimOptions({"--amplifier", std::string(kLegacySerial) + ":legacy"}));
    const CloseAllAtEnd closeAll;
    QELTBLE_HANDLE handle = 0;
    ASSERT_EQ(QELTBLE_OpenDevice(kLegacySerial, &handle), 0) << LastError();
    ASSERT_EQ(QELTBLE_RegisterConnectionStateCallback(handle, &Observed::OnState), 0);
    ASSERT_EQ(QELTBLE_RegisterDataAvailableBatchedCallback(handle, &Observed::OnBatch), 0);
    ASSERT_TRUE(WaitFor([] { return Seen().FrameCount() >= 16; }));

    // Counted before the switch-off: the reconnect thread may call Connect
    // before the loss is seen here.
    const uint64_t connects = sim.CallCount("Connect");
    sim.SetAmplifierPower(kLegacySerial, false);
    ASSERT_TRUE(WaitFor([] { return !Seen().States().empty(); }));
    // The reconnect thread waits in BlueZ's Connect for the amplifier.
    ASSERT_TRUE(WaitFor([&] { return sim.CallCount("Connect") > connects; }));
    const size_t framesWhileOff = Seen().FrameCount();
    std::this_thread::sleep_for(200ms);
    EXPECT_THAT(Seen().States(), ElementsAre(QELTBLE_STATE_DISCONNECTED));

    sim.SetAmplifierPower(kLegacySerial, true);
    ASSERT_TRUE(WaitFor([] { return Seen().States().size() == 2; }));
    ASSERT_TRUE(WaitFor([&] { return Seen().FrameCount() >= framesWhileOff + 16; }));
    EXPECT_THAT(Seen().States(), ElementsAre(QELTBLE_STATE_DISCONNECTED, QELTBLE_STATE_CONNECTED));
    EXPECT_THAT(Seen().Handles(), ElementsAre(handle, handle));

    // The new stream counts from 1 again, without frames made up for the
    // time the amplifier was off.
    const std::vector<float> counters = Seen().Counters();
    size_t restart = 0;
    for (size_t i = 1; i < counters.size(); ++i) {
        if (counters[i] != counters[i - 1] + 1.0f) {
            EXPECT_EQ(restart, 0u) << "a second discontinuity at " << i;
            restart = i;
        }
    }
    ASSERT_GT(restart, 0u);
    EXPECT_EQ(counters[restart], 1.0f);
}

TEST(Supervision, StateCallbackRegisteredDuringTheLossHearsTheRecovery) {
    UseShortTimings();
    Simulator sim(SimOptions({"--amplifier", std::string(kNusSerial) + ":nus"}));
    const CloseAllAtEnd closeAll;
    QELTBLE_HANDLE handle = 0;
    ASSERT_EQ(QELTBLE_OpenDevice(kNusSerial, &handle), 0) << LastError();
    const uint64_t connects = sim.CallCount("Connect");
    sim.SetAmplifierPower(kNusSerial, false);
    ASSERT_TRUE(WaitFor([&] { return sim.CallCount("Connect") > connects; }));

    ASSERT_EQ(QELTBLE_RegisterConnectionStateCallback(handle, &Observed::OnState), 0);
    sim.SetAmplifierPower(kNusSerial, true);
    ASSERT_TRUE(WaitFor([] { return !Seen().States().empty(); }));
    EXPECT_THAT(Seen().States(), ElementsAre(QELTBLE_STATE_CONNECTED));
    QELTBLE_DEVICE_INFORMATION info{};
    ASSERT_EQ(QELTBLE_GetDeviceInformation(handle, &info), 0);
    EXPECT_STREQ(info.serialNumber, kNusSerial);
}

TEST(Supervision, AmplifierThatStaysAwayIsRetriedWithCappedPausesAndNoReports) {
    auto timings = ShortTimings();
    timings.searchLimit = 60ms;
    timings.openRetryPause = 10ms;
    timings.reconnectFirstPause = 20ms;
    timings.reconnectMaxPause = 50ms;
    timings.reconnectPauseObserver = &Observed::OnPause;
    Qelt::BLE::SetDeviceTimings(timings);
    Simulator sim(RemovalOptions());
    const CloseAllAtEnd closeAll;
    QELTBLE_HANDLE handle = 0;
    ASSERT_EQ(QELTBLE_OpenDevice(kLegacySerial, &handle), 0) << LastError();
    ASSERT_EQ(QELTBLE_RegisterConnectionStateCallback(handle, &Observed::OnState), 0);

    RemoveAndSwitchOff(sim, kLegacySerial);
    ASSERT_TRUE(WaitFor([] { return Seen().Pauses().size() >= 6; }));
    const std::vector<long> pauses = Seen().Pauses();
    EXPECT_THAT(std::vector<long>(pauses.begin(), pauses.begin() + 6),
                ElementsAre(20, 40, 50, 50, 50, 50));
    EXPECT_THAT(Seen().States(), ElementsAre(QELTBLE_STATE_DISCONNECTED));

    // Still searching: every attempt opens with a search.
    const uint64_t searches = sim.CallCount("StartDiscovery");
    ASSERT_TRUE(WaitFor([&] { return sim.CallCount("StartDiscovery") > searches + 3; }));
    EXPECT_THAT(Seen().States(), ElementsAre(QELTBLE_STATE_DISCONNECTED));
    EXPECT_EQ(QELTBLE_CloseDevice(&handle), 0);
}

TEST(Supervision, ClosingWhileTheReconnectThreadSearchesEndsTheSearchAtItsNextPoll) {
    // The product's timings: the search is cut short at its next 100 ms
    // poll; the open's two 500 ms pauses between its attempts remain.
    Simulator sim(RemovalOptions());
    const CloseAllAtEnd closeAll;
    QELTBLE_HANDLE handle = 0;
    ASSERT_EQ(QELTBLE_OpenDevice(kLegacySerial, &handle), 0) << LastError();
    ASSERT_EQ(QELTBLE_RegisterConnectionStateCallback(handle, &Observed::OnState), 0);
    const uint64_t searches = sim.CallCount("StartDiscovery");

    RemoveAndSwitchOff(sim, kLegacySerial);
    ASSERT_TRUE(WaitFor([&] { return sim.CallCount("StartDiscovery") > searches; }));
    std::this_thread::sleep_for(300ms);
    const auto start = Clock::now();
    EXPECT_EQ(QELTBLE_CloseDevice(&handle), 0);
    const auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, 1000ms);
    EXPECT_LT(elapsed, 3000ms) << "a search of ten seconds would not have been cut short";
    EXPECT_THAT(Seen().States(), ElementsAre(QELTBLE_STATE_DISCONNECTED));
}

namespace {

// Closes the handle while BlueZ holds the reconnect thread's Connect and
// expects the close to cancel it. With `firstDisconnectLost` the first
// cancelling Disconnect fails without effect, as one that reaches BlueZ
// before the Connect does.
void CloseWhileBlueZHoldsTheConnect(bool firstDisconnectLost) {
    // The product's timings. Switched off, the amplifier keeps its object (a
    // device connected to is not temporary), so the reconnect thread finds
    // it at once and BlueZ holds its Connect until the amplifier advertises
    // again, for up to the call's 20 s time-out.
    Simulator sim(SimOptions({"--amplifier", std::string(kLegacySerial) + ":legacy"}));
    const CloseAllAtEnd closeAll;
    QELTBLE_HANDLE handle = 0;
    ASSERT_EQ(QELTBLE_OpenDevice(kLegacySerial, &handle), 0) << LastError();
    ASSERT_EQ(QELTBLE_RegisterConnectionStateCallback(handle, &Observed::OnState), 0);
    ASSERT_EQ(QELTBLE_RegisterDataAvailableBatchedCallback(handle, &Observed::OnBatch), 0);
    ASSERT_TRUE(WaitFor([] { return Seen().FrameCount() >= 8; }));

    const uint64_t connects = sim.CallCount("Connect");
    sim.SetAmplifierPower(kLegacySerial, false);
    ASSERT_TRUE(WaitFor([&] { return sim.CallCount("Connect") > connects; }));
    std::this_thread::sleep_for(300ms);
    if (firstDisconnectLost) {
        sim.FailNextCall("Disconnect", sim.Amplifiers().at(kLegacySerial), "org.bluez.Error.Failed",
                         "lost");
    }
    const uint64_t disconnects = sim.CallCount("Disconnect");
    const auto start = Clock::now();
    EXPECT_EQ(QELTBLE_CloseDevice(&handle), 0);
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    testing::Test::RecordProperty("close_ms", static_cast<int>(elapsed.count()));
    EXPECT_LT(elapsed, 5000ms) << "the Connect was left to its time-out";
    // The cancelling Disconnects, and the one of the link's teardown.
    EXPECT_GE(sim.CallCount("Disconnect"), disconnects + (firstDisconnectLost ? 3 : 2));
    EXPECT_EQ(sim.CallCount("Connect"), connects + 1) << "a new Connect was started";
    EXPECT_THAT(Seen().States(), ElementsAre(QELTBLE_STATE_DISCONNECTED));
}

}  // namespace

TEST(Supervision, ClosingWhileBlueZHoldsTheReconnectingConnectCancelsIt) {
    CloseWhileBlueZHoldsTheConnect(false);
}

TEST(Supervision, ClosingCancelsTheConnectAlsoWhenTheFirstDisconnectCancelsNothing) {
    CloseWhileBlueZHoldsTheConnect(true);
}

TEST(Supervision, ClosingDuringAPauseBetweenAttemptsEndsItAtOnce) {
    auto timings = ShortTimings();
    timings.searchLimit = 60ms;
    timings.openRetryPause = 10ms;
    timings.reconnectFirstPause = 60s;
    timings.reconnectPauseObserver = &Observed::OnPause;
    Qelt::BLE::SetDeviceTimings(timings);
    Simulator sim(RemovalOptions());
    const CloseAllAtEnd closeAll;
    QELTBLE_HANDLE handle = 0;
    ASSERT_EQ(QELTBLE_OpenDevice(kLegacySerial, &handle), 0) << LastError();

    RemoveAndSwitchOff(sim, kLegacySerial);
    ASSERT_TRUE(WaitFor([] { return !Seen().Pauses().empty(); }));
    std::this_thread::sleep_for(100ms);
    const auto start = Clock::now();
    EXPECT_EQ(QELTBLE_CloseDevice(&handle), 0);
    EXPECT_LT(Clock::now() - start, 1000ms) << "the pause of a minute was not cut short";
}
