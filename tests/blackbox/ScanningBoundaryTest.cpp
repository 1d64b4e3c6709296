// Scanning exports as an application sees them when no bus can be reached.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "qeltble.h"

namespace {
constexpr const char* kNoBus = "Could not connect to the system D-Bus (is bluetoothd running?).";
}

TEST(ScanningBoundary, CountWithoutABusIsZeroAndLeavesTheCause) {
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/qeltble/bus", 1);
    EXPECT_EQ(QELTBLE_GetDiscoveredDeviceCount(), 0u);
    EXPECT_STREQ(QELTBLE_GetLastErrorText(), kNoBus);
    // The scanner is tried again, and fails again, on every call.
    EXPECT_EQ(QELTBLE_StartScanning(), QELTBLE_ERROR_BLUETOOTH_UNAVAILABLE);
    EXPECT_EQ(QELTBLE_GetDiscoveredDeviceCount(), 0u);
    EXPECT_STREQ(QELTBLE_GetLastErrorText(), kNoBus);
}
