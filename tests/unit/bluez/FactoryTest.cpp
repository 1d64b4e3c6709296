#include <gtest/gtest.h>

#include "api/ApiException.h"
#include "bluez/BLEFactory.h"

using Qelt::BLE::ApiException;
using Qelt::BLE::BLEFactory;

TEST(Factory, IsOneObjectAndCannotOpenDevicesYet) {
    BLEFactory& factory = BLEFactory::GetInstance();
    EXPECT_EQ(&factory, &BLEFactory::GetInstance());
    try {
        factory.CreateDevice("AB-1234.56.78", nullptr);
        FAIL() << "created a device";
    } catch (const ApiException& e) {
        EXPECT_EQ(e.code, -1);
        EXPECT_STREQ(e.what(), "Opening a device is not available in this build yet.");
    }
}
