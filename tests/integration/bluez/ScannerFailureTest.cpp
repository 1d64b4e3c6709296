// How the scanning exports fail: no bus, no BlueZ, no adapter, an adapter
// that is off, a bus that goes away. Each case runs in a process of its own,
// so the scanner singleton starts absent in each.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "FakeBlueZ.h"
#include "PrivateBus.h"
#include "api/ApiException.h"
#include "bluez/BlueZBleScanner.h"
#include "qeltble.h"

using QeltTest::FakeBlueZ;
using namespace std::chrono_literals;

namespace {

const FakeBlueZ::Object kAdapter{"/org/bluez/hci0", {{"org.bluez.Adapter1", {}}}};
const FakeBlueZ::Object kDevice{"/org/bluez/hci0/dev_00_00_00_00_00_01",
                                {{"org.bluez.Device1", {{"Name", "AB-1234.56.78"}}}}};

std::string LastError() {
    return QELTBLE_GetLastErrorText();
}

// The calls the stand-in answered, without the enumerations.
std::vector<std::string> AdapterCalls(const FakeBlueZ& bluez) {
    std::vector<std::string> calls;
    for (const std::string& call : bluez.Calls()) {
        if (call.find("GetManagedObjects") == std::string::npos) {
            calls.push_back(call);
        }
    }
    return calls;
}

}  // namespace

TEST(ScannerFailure, NoReachableBus) {
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/qeltble/bus", 1);
    const std::string cause = "Could not connect to the system D-Bus (is bluetoothd running?).";
    EXPECT_EQ(QELTBLE_GetDiscoveredDeviceCount(), 0u);
    EXPECT_EQ(LastError(), cause);
    EXPECT_EQ(QELTBLE_StartScanning(), 2);
    EXPECT_EQ(LastError(), cause);
    EXPECT_EQ(QELTBLE_StopScanning(), 2);
    EXPECT_EQ(QELTBLE_RegisterDeviceListChangedCallback(nullptr), 2);
    char name[16] = "untouched";
    EXPECT_EQ(QELTBLE_GetDiscoveredDeviceName(0, name, sizeof name), 2);
    EXPECT_STREQ(name, "untouched");
}

TEST(ScannerFailure, BusWithoutBlueZ) {
    QeltTest::PrivateBus bus;
    EXPECT_EQ(QELTBLE_GetDiscoveredDeviceCount(), 0u);
    EXPECT_EQ(LastError().rfind("Could not enumerate BlueZ objects: ", 0), 0u) << LastError();
    EXPECT_EQ(QELTBLE_StartScanning(), 2);
}

TEST(ScannerFailure, NoAdapter) {
    QeltTest::PrivateBus bus;
    FakeBlueZ bluez;
    bluez.SetManagedObjects({{"/org/bluez", {{"org.bluez.AgentManager1", {}}}}, kDevice});
    EXPECT_EQ(QELTBLE_StartScanning(), 2);
    EXPECT_EQ(LastError(), "No Bluetooth adapter available.");
}

TEST(ScannerFailure, AdapterOffAtConstruction) {
    QeltTest::PrivateBus bus;
    FakeBlueZ bluez;
    bluez.SetManagedObjects({kAdapter});
    bluez.SetPowered(false);
    EXPECT_EQ(QELTBLE_StartScanning(), 2);
    EXPECT_EQ(LastError(), "Bluetooth adapter not enabled.");
    EXPECT_TRUE(AdapterCalls(bluez) ==
                std::vector<std::string>{"/org/bluez/hci0 org.freedesktop.DBus.Properties.Get"});
}

TEST(ScannerFailure, AdapterOffWhenScanningStarts) {
    QeltTest::PrivateBus bus;
    FakeBlueZ bluez;
    bluez.SetManagedObjects({kAdapter, kDevice});
    EXPECT_EQ(QELTBLE_GetDiscoveredDeviceCount(), 0u);  // constructs the scanner

    bluez.SetPowered(false);
    EXPECT_EQ(QELTBLE_StartScanning(), 2);
    EXPECT_EQ(LastError(), "Bluetooth adapter is not powered on.");
    EXPECT_EQ(QELTBLE_GetDiscoveredDeviceCount(), 0u);

    // Nothing was started, so the first start after powering on does start.
    bluez.SetPowered(true);
    EXPECT_EQ(QELTBLE_StartScanning(), 0);
    EXPECT_EQ(QELTBLE_GetDiscoveredDeviceCount(), 1u);
    const std::string get = "/org/bluez/hci0 org.freedesktop.DBus.Properties.Get";
    EXPECT_EQ(AdapterCalls(bluez),
              (std::vector<std::string>{get, get, get,
                                        "/org/bluez/hci0 org.bluez.Adapter1.SetDiscoveryFilter",
                                        "/org/bluez/hci0 org.bluez.Adapter1.StartDiscovery"}));
}

TEST(ScannerFailure, FailedConstructionIsRetried) {
    QeltTest::PrivateBus bus;
    EXPECT_EQ(QELTBLE_StartScanning(), 2);
    FakeBlueZ bluez;
    bluez.SetManagedObjects({kAdapter});
    bluez.SetPowered(false);
    EXPECT_EQ(QELTBLE_StartScanning(), 2);
    EXPECT_EQ(LastError(), "Bluetooth adapter not enabled.");
    bluez.SetPowered(true);
    EXPECT_EQ(QELTBLE_StartScanning(), 0);
}

TEST(ScannerFailure, DiscoveryCallFailuresAreIgnoredAndTheFirstAdapterIsUsed) {
    QeltTest::PrivateBus bus;
    FakeBlueZ bluez;
    const FakeBlueZ::Object second{"/org/bluez/hci1", {{"org.bluez.Adapter1", {}}}};
    bluez.SetManagedObjects({kDevice, second, kAdapter});
    bluez.FailMethod("SetDiscoveryFilter", "Invalid arguments");
    bluez.FailMethod("StartDiscovery", "Operation already in progress");
    bluez.FailMethod("StopDiscovery", std::nullopt);
    EXPECT_EQ(QELTBLE_StartScanning(), 0);
    EXPECT_EQ(QELTBLE_GetDiscoveredDeviceCount(), 1u);
    EXPECT_EQ(QELTBLE_StopScanning(), 0);
    EXPECT_EQ(QELTBLE_StartScanning(), 0);
    for (const std::string& call : AdapterCalls(bluez)) {
        EXPECT_EQ(call.rfind("/org/bluez/hci1 ", 0), 0u) << call;
    }
    EXPECT_EQ(AdapterCalls(bluez).size(), 8u);  // Get (set-up), 2 x (Get, filter, start), stop
}

TEST(ScannerFailure, LostBusFailsLaterCallsButKeepsTheList) {
    QeltTest::PrivateBus bus;
    {
        FakeBlueZ bluez;
        bluez.SetManagedObjects({kAdapter, kDevice});
        ASSERT_EQ(QELTBLE_StartScanning(), 0);
        bus.Kill();
    }
    // Wait until the worker has noticed, with a call that changes nothing.
    auto& scanner = Qelt::BLE::BlueZBleScanner::GetInstance();
    bool noticed = false;
    for (int i = 0; i < 500 && !noticed; ++i) {
        try {
            std::string path;
            scanner.ResolveLiveObjectPath("AB-1234.56.78", path);
            std::this_thread::sleep_for(10ms);
        } catch (const Qelt::BLE::ApiException& e) {
            noticed = e.code == 3;
        }
    }
    ASSERT_TRUE(noticed);
    EXPECT_EQ(QELTBLE_StopScanning(), 3);
    EXPECT_EQ(LastError(), "D-Bus connection is not running.");
    // The failed stop left the scanner counted as scanning: nothing to start.
    EXPECT_EQ(QELTBLE_StartScanning(), 0);
    EXPECT_EQ(QELTBLE_GetDiscoveredDeviceCount(), 1u);
    EXPECT_EQ(QELTBLE_Shutdown(), 0);
    EXPECT_EQ(QELTBLE_GetDiscoveredDeviceCount(), 0u);
    EXPECT_EQ(QELTBLE_StartScanning(), 0);
}
