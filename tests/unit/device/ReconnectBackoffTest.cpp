#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "device/DeviceTimings.h"
#include "device/ReconnectBackoff.h"

using Qelt::BLE::DeviceTimings;
using Qelt::BLE::ReconnectBackoff;
using std::chrono::milliseconds;

namespace {

std::vector<long> Pauses(ReconnectBackoff& backoff, int count) {
    std::vector<long> pauses;
    for (int i = 0; i < count; ++i) {
        pauses.push_back(static_cast<long>(backoff.Pause().count()));
        backoff.Grow();
    }
    return pauses;
}

}  // namespace

TEST(ReconnectBackoff, PausesDoubleUpToTheLastAndStartOverAfterAReset) {
    const DeviceTimings product;
    ReconnectBackoff backoff(product.reconnectFirstPause, product.reconnectMaxPause);
    EXPECT_EQ(Pauses(backoff, 8),
              (std::vector<long>{500, 1000, 2000, 4000, 5000, 5000, 5000, 5000}));
    backoff.Reset();
    EXPECT_EQ(backoff.Pause(), milliseconds(500));

    ReconnectBackoff shortened(milliseconds(20), milliseconds(50));
    EXPECT_EQ(Pauses(shortened, 4), (std::vector<long>{20, 40, 50, 50}));
}

TEST(DeviceTimings, ProductWaitsAreTheDefaults) {
    const DeviceTimings timings = Qelt::BLE::CurrentDeviceTimings();
    EXPECT_EQ(timings.searchLimit, milliseconds(10000));
    EXPECT_EQ(timings.searchPoll, milliseconds(100));
    EXPECT_EQ(timings.discoveryLimit, milliseconds(10000));
    EXPECT_EQ(timings.discoveryPoll, milliseconds(100));
    EXPECT_EQ(timings.configurationWait, milliseconds(4000));
    EXPECT_EQ(timings.openAttempts, 3u);
    EXPECT_EQ(timings.openRetryPause, milliseconds(500));
    EXPECT_EQ(timings.reconnectFirstPause, milliseconds(500));
    EXPECT_EQ(timings.reconnectMaxPause, milliseconds(5000));
}
