#include <gtest/gtest.h>
#include <stdlib.h>

#include "api/ApiException.h"
#include "bluez/BLEFactory.h"
#include "device/DeviceTimings.h"
#include "device/IDevice.h"

using Qelt::BLE::ApiException;
using Qelt::BLE::BLEFactory;

TEST(Factory, IsOneObjectThatOpensDevicesThroughTheSystemBus) {
    BLEFactory& factory = BLEFactory::GetInstance();
    EXPECT_EQ(&factory, &BLEFactory::GetInstance());

    // No bus behind the address: the device's open fails at once.
    ASSERT_EQ(setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/qeltble-test", 1), 0);
    Qelt::BLE::DeviceTimings timings;
    timings.openAttempts = 1;
    Qelt::BLE::SetDeviceTimings(timings);
    try {
        delete factory.CreateDevice("AB-1234.56.78", nullptr);
        FAIL() << "created a device";
    } catch (const ApiException& e) {
        EXPECT_EQ(e.code, 2);
        EXPECT_STREQ(e.what(), "Could not connect to the system D-Bus (is bluetoothd running?).");
    }
}
