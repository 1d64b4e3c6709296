#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "FakeDevice.h"
#include "TemporaryHome.h"
#include "api/ApiException.h"
#include "api/HandleManager.h"

using namespace Qelt::BLE;
using QeltTest::FakeDevice;

namespace {

// Creates fake devices and remembers what happened to them.
class HandleManagerTest : public ::testing::Test {
protected:
    // The table's own destruction abandons what is still open, as at process
    // exit; the tests close everything instead.
    void TearDown() override { manager.CloseAll(); }

    HandleManager manager{[this](const std::string& serial) -> std::unique_ptr<IDevice> {
        created.push_back(serial);
        if (serial == "missing") {
            throw ApiException("Could not find device with the specified serial number.", 3);
        }
        auto device =
            std::make_unique<FakeDevice>(serial, [this, serial] { destroyed.push_back(serial); });
        last = device.get();
        return device;
    }};

    void ExpectInvalidHandle(QELTBLE_HANDLE handle) {
        try {
            manager.GetDeviceFromHandle(handle);
            FAIL() << "handle " << handle << " should be invalid";
        } catch (const ApiException& e) {
            EXPECT_EQ(e.code, 1);
            EXPECT_STREQ(e.what(), "Invalid device handle.");
        }
    }

    std::vector<std::string> created;
    std::vector<std::string> destroyed;
    FakeDevice* last = nullptr;
};

}  // namespace

TEST_F(HandleManagerTest, HandlesCountUpAndAreNeverReused) {
    EXPECT_EQ(manager.CreateHandle("AB-0001.00.01"), 1u);
    EXPECT_EQ(manager.CreateHandle("AB-0002.00.01"), 2u);
    manager.DestroyHandle(1);
    EXPECT_EQ(manager.CreateHandle("AB-0001.00.01"), 3u);
    EXPECT_EQ(destroyed, std::vector<std::string>{"AB-0001.00.01"});
    ExpectInvalidHandle(1);
    ExpectInvalidHandle(0);
}

TEST_F(HandleManagerTest, SameSerialNumberYieldsTheOpenHandleWithoutCreatingAgain) {
    const QELTBLE_HANDLE handle = manager.CreateHandle("AB-0001.00.01");
    EXPECT_EQ(manager.CreateHandle("AB-0001.00.01"), handle);
    EXPECT_EQ(manager.CreateHandle("ab-0001.00.01"), 2u) << "the comparison is case-sensitive";
    EXPECT_EQ(created.size(), 2u);
}

TEST_F(HandleManagerTest, FailedCreationRegistersNothing) {
    try {
        manager.CreateHandle("missing");
        FAIL();
    } catch (const ApiException& e) {
        EXPECT_EQ(e.code, 3);
    }
    EXPECT_EQ(manager.CreateHandle("AB-0001.00.01"), 1u);
}

TEST_F(HandleManagerTest, LooksUpInBothDirections) {
    const QELTBLE_HANDLE handle = manager.CreateHandle("AB-0001.00.01");
    IDevice* device = manager.GetDeviceFromHandle(handle);
    EXPECT_EQ(device, last);
    EXPECT_EQ(manager.GetHandleFromDevice(device), handle);
    manager.DestroyHandle(handle);
    try {
        manager.GetHandleFromDevice(device);
        FAIL();
    } catch (const ApiException& e) {
        EXPECT_EQ(e.code, 1);
        EXPECT_STREQ(e.what(), "Device not found.");
    }
}

TEST_F(HandleManagerTest, ClosingTwiceFailsTheSecondTime) {
    const QELTBLE_HANDLE handle = manager.CreateHandle("AB-0001.00.01");
    manager.DestroyHandle(handle);
    EXPECT_THROW(manager.DestroyHandle(handle), ApiException);
    EXPECT_EQ(destroyed.size(), 1u);
}

TEST_F(HandleManagerTest, HandleIsGoneBeforeTheDeviceShutsDown) {
    const QELTBLE_HANDLE handle = manager.CreateHandle("AB-0001.00.01");
    bool lookupFailed = false;
    last->onPrepare = [&] {
        // A device thread asking for its handle during the close neither
        // blocks nor finds it.
        try {
            manager.GetHandleFromDevice(manager.GetDeviceFromHandle(handle));
        } catch (const ApiException&) {
            lookupFailed = true;
        }
    };
    manager.DestroyHandle(handle);
    EXPECT_TRUE(lookupFailed);
}

TEST_F(HandleManagerTest, CloseAllClosesInOrderAndKeepsCounting) {
    manager.CreateHandle("AB-0001.00.01");
    manager.CreateHandle("AB-0002.00.01");
    manager.CreateHandle("AB-0003.00.01");
    manager.CloseAll();
    EXPECT_EQ(destroyed,
              (std::vector<std::string>{"AB-0001.00.01", "AB-0002.00.01", "AB-0003.00.01"}));
    manager.CloseAll();
    EXPECT_EQ(destroyed.size(), 3u);
    EXPECT_EQ(manager.CreateHandle("AB-0001.00.01"), 4u);
}

TEST_F(HandleManagerTest, DeviceThatCannotBeDeletedIsAbandonedAndLogged) {
    namespace fs = std::filesystem;
    const QeltTest::TemporaryHome home;

    manager.CreateHandle("AB-0001.00.01");
    const QELTBLE_HANDLE second = manager.CreateHandle("AB-0002.00.01");
    FakeDevice* stuck = last;
    stuck->canDelete = false;
    manager.DestroyHandle(second);
    EXPECT_TRUE(destroyed.empty());
    ExpectInvalidHandle(second);

    fs::path logFile;
    for (const auto& entry : fs::recursive_directory_iterator(home.Path())) {
        if (entry.is_regular_file()) {
            logFile = entry.path();
        }
    }
    const std::string content = QeltTest::ReadFile(logFile);
    EXPECT_NE(content.find("[ERROR] - handle 2: Bluetooth transport unresponsive; leaking "
                           "the device object instead of destroying it. Restart the host "
                           "process to reclaim it.\n"),
              std::string::npos)
        << content;

    delete stuck;  // the table let go of it; reclaim it here
}

TEST(HandleManager, DestructionDiscardsTheTableWithoutDestroyingDevices) {
    bool destroyed = false;
    FakeDevice* device = nullptr;
    {
        HandleManager manager([&](const std::string& serial) {
            auto created = std::make_unique<FakeDevice>(serial, [&] { destroyed = true; });
            device = created.get();
            return created;
        });
        manager.CreateHandle("AB-0001.00.01");
    }
    EXPECT_FALSE(destroyed);
    delete device;
    EXPECT_TRUE(destroyed);
}
