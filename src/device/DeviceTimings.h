// Every wait of a device in one place: searching for the amplifier, waiting
// for its services, reading its configuration, retrying an open and pausing
// between reconnection attempts. The product always runs with the defaults
// below. Tests that link the internals may shorten them for devices created
// afterwards; the shared library does not export this, and nothing in the
// environment can change it.
#pragma once

#include <chrono>
#include <functional>

namespace Qelt::BLE {

struct DeviceTimings {
    using Duration = std::chrono::milliseconds;

    // Searching for the amplifier's object before connecting.
    Duration searchLimit{10000};
    Duration searchPoll{100};
    // Waiting for BlueZ to resolve the amplifier's services.
    Duration discoveryLimit{10000};
    Duration discoveryPoll{100};
    // Waiting for all records of one configuration characteristic.
    Duration configurationWait{4000};
    // Attempts of one open, and the pause after a failed attempt.
    unsigned openAttempts = 3;
    Duration openRetryPause{500};
    // Pauses between reconnection attempts: the first, doubled after each
    // failure up to the last.
    Duration reconnectFirstPause{500};
    Duration reconnectMaxPause{5000};
    // Told each pause between reconnection attempts before it is waited, on
    // the reconnect thread; lets a test see the pauses. Empty in the product.
    std::function<void(Duration)> reconnectPauseObserver;
};

// The timings a device takes when it is created.
DeviceTimings CurrentDeviceTimings();

// Replaces the timings of devices created from now on. For tests only.
void SetDeviceTimings(const DeviceTimings& timings);

}  // namespace Qelt::BLE
