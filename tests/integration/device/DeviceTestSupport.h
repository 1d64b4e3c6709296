// What the device tests against the simulator share: simulator options that
// keep BlueZ's own delays short, shortened device timings for tests whose
// subject is not a wait, polling with a limit, and the expectation of a
// failed open.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "device/DeviceTimings.h"
#include "qeltble.h"

namespace QeltDeviceTest {

using namespace std::chrono_literals;

inline constexpr const char* kLegacySerial = "AB-1234.56.78";
inline constexpr const char* kNusSerial = "CD-2345.67.89";

// No default devices; advertisers are heard ten times a second and a
// disconnection takes 20 ms instead of BlueZ's two seconds.
inline std::vector<std::string> SimOptions(std::vector<std::string> more = {}) {
    std::vector<std::string> options = {"--no-default-devices", "--scan-interval-ms", "100",
                                        "--disconnect-delay-ms", "20"};
    options.insert(options.end(), more.begin(), more.end());
    return options;
}

// Simulator options adding one legacy amplifier per case (`serial`), each
// with the case's `settings`.
template <typename Cases>
std::vector<std::string> AmplifierOptions(const Cases& cases) {
    std::vector<std::string> options;
    for (const auto& c : cases) {
        options.insert(options.end(), {"--amplifier", std::string(c.serial) + ":legacy"});
        for (const std::string& setting : c.settings) {
            options.insert(options.end(), {"--set", setting});
        }
    }
    return options;
}

// Timings for a test that only needs a failure, not the product's waits.
inline Qelt::BLE::DeviceTimings ShortTimings() {
    Qelt::BLE::DeviceTimings timings;
    timings.searchLimit = 600ms;
    timings.searchPoll = 20ms;
    timings.discoveryLimit = 300ms;
    timings.discoveryPoll = 20ms;
    timings.configurationWait = 300ms;
    timings.openRetryPause = 20ms;
    timings.reconnectFirstPause = 20ms;
    timings.reconnectMaxPause = 80ms;
    return timings;
}

inline void UseShortTimings() {
    Qelt::BLE::SetDeviceTimings(ShortTimings());
}

inline bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

inline std::string LastError() {
    return QELTBLE_GetLastErrorText();
}

// Opens `serial` and expects the open to fail with `code` and `message`,
// issuing no handle.
inline void ExpectOpenFails(const char* serial, int32_t code, const std::string& message) {
    QELTBLE_HANDLE handle = 77;
    EXPECT_EQ(QELTBLE_OpenDevice(serial, &handle), code);
    EXPECT_EQ(LastError(), message);
    EXPECT_EQ(handle, 77u) << "the handle is written only on success";
}

// Closes every open device when the test ends: devices left open at process
// exit are not destroyed, and their threads would outlive the test. Declare
// it after the simulator, so that the devices close while it still runs.
struct CloseAllAtEnd {
    CloseAllAtEnd() = default;
    CloseAllAtEnd(const CloseAllAtEnd&) = delete;
    CloseAllAtEnd& operator=(const CloseAllAtEnd&) = delete;
    ~CloseAllAtEnd() { QELTBLE_Shutdown(); }
};

}  // namespace QeltDeviceTest
