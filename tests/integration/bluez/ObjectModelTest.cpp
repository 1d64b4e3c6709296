// Reading BlueZ's tree and calling its methods over a real bus, against a
// stand-in that can send what a real daemon would not.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "FakeBlueZ.h"
#include "PrivateBus.h"
#include "api/ApiException.h"
#include "bluez/BlueZConnection.h"
#include "bluez/CallNoArg.h"
#include "bluez/ManagedObjects.h"

using Qelt::BLE::ApiException;
using Qelt::BLE::BlueZUtil::BlueZConnection;
using Qelt::BLE::BlueZUtil::CallNoArg;
using Qelt::BLE::BlueZUtil::GetManagedObjects;
using Qelt::BLE::BlueZUtil::ObjEntry;
using QeltTest::FakeBlueZ;
using namespace std::chrono_literals;

namespace {

std::vector<ObjEntry> Enumerate(BlueZConnection& connection) {
    std::vector<ObjEntry> objects;
    connection.Execute([&](sd_bus* bus) { objects = GetManagedObjects(bus); });
    return objects;
}

// "ok" or "<code>: <message>" of one CallNoArg.
std::string CallOutcome(BlueZConnection& connection, const char* method, bool ignoreErrors,
                        uint64_t timeoutUs = 10'000'000) {
    try {
        connection.Execute([&](sd_bus* bus) {
            CallNoArg(bus, "/org/bluez/hci0/dev_00_11_22_33_44_55", "org.bluez.Device1", method,
                      timeoutUs, 3, ignoreErrors);
        });
        return "ok";
    } catch (const ApiException& e) {
        return std::to_string(e.code) + ": " + e.what();
    }
}

}  // namespace

TEST(ObjectModel, EnumerationKeepsBlueZsOrder) {
    QeltTest::PrivateBus bus;
    FakeBlueZ bluez;
    bluez.SetManagedObjects(std::vector<FakeBlueZ::Object>{
        {"/org/bluez/hci0/dev_BB", {{"org.bluez.Device1", {{"Name", "AB-0000.00.02"}}}}},
        {"/org/bluez", {{"org.bluez.AgentManager1", {}}}},
        {"/org/bluez/hci0",
         {{"org.bluez.Adapter1", {{"Address", "00:AA"}}}, {"org.freedesktop.DBus.Properties", {}}}},
    });
    BlueZConnection connection;
    const std::vector<ObjEntry> objects = Enumerate(connection);
    ASSERT_EQ(objects.size(), 3u);
    EXPECT_EQ(objects[0].path, "/org/bluez/hci0/dev_BB");
    EXPECT_EQ(objects[0].interfaces.at("org.bluez.Device1").at("Name"), "AB-0000.00.02");
    EXPECT_EQ(objects[1].path, "/org/bluez");
    EXPECT_TRUE(objects[1].interfaces.at("org.bluez.AgentManager1").empty());
    EXPECT_EQ(objects[2].path, "/org/bluez/hci0");
    EXPECT_EQ(objects[2].interfaces.size(), 2u);
    EXPECT_EQ(objects[2].interfaces.at("org.bluez.Adapter1").at("Address"), "00:AA");
}

TEST(ObjectModel, RepliesOfAnotherShapeGiveNoObjects) {
    QeltTest::PrivateBus bus;
    FakeBlueZ bluez;
    BlueZConnection connection;
    const std::vector<std::pair<const char*, FakeBlueZ::Writer>> replies = {
        {"empty reply", [](sd_bus_message*) {}},
        {"empty list", [](sd_bus_message* m) { sd_bus_message_append(m, "a{oa{sa{sv}}}", 0); }},
        {"a string", [](sd_bus_message* m) { sd_bus_message_append(m, "s", "/org/bluez"); }},
        {"a{sa{sv}}",
         [](sd_bus_message* m) {
             sd_bus_message_append(m, "a{sa{sv}}", 1, "org.bluez.Adapter1", 0);
         }},
    };
    for (const auto& [what, reply] : replies) {
        SCOPED_TRACE(what);
        bluez.SetManagedObjects(reply);
        EXPECT_TRUE(Enumerate(connection).empty());
    }
}

TEST(ObjectModel, EnumerationFailureNamesTheCause) {
    QeltTest::PrivateBus bus;
    BlueZConnection connection;
    auto failure = [&]() -> std::string {
        try {
            Enumerate(connection);
            return "no failure";
        } catch (const ApiException& e) {
            return std::to_string(e.code) + ": " + e.what();
        }
    };
    // Nobody owns org.bluez: the bus's own error text is the detail.
    const std::string noBlueZ = failure();
    EXPECT_EQ(noBlueZ.rfind("2: Could not enumerate BlueZ objects: ", 0), 0u) << noBlueZ;
    EXPECT_NE(noBlueZ.find("org.bluez"), std::string::npos) << noBlueZ;

    FakeBlueZ bluez;
    bluez.FailMethod("GetManagedObjects", "Resource temporarily unavailable");
    EXPECT_EQ(failure(), "2: Could not enumerate BlueZ objects: Resource temporarily unavailable");
    bluez.FailMethod("GetManagedObjects", std::nullopt);
    EXPECT_EQ(failure(), "2: Could not enumerate BlueZ objects.");
}

TEST(ObjectModel, CallNoArgReportsTheMethodAndTheBlueZError) {
    QeltTest::PrivateBus bus;
    FakeBlueZ bluez;
    BlueZConnection connection;

    EXPECT_EQ(CallOutcome(connection, "Connect", false), "ok");
    EXPECT_EQ(bluez.Calls().back(),
              "/org/bluez/hci0/dev_00_11_22_33_44_55 org.bluez.Device1.Connect");

    bluez.FailMethod("Connect", "le-connection-abort-by-local");
    EXPECT_EQ(CallOutcome(connection, "Connect", false),
              "3: Connect failed: le-connection-abort-by-local");
    EXPECT_EQ(CallOutcome(connection, "Connect", true), "ok");
    bluez.FailMethod("Connect", std::nullopt);
    EXPECT_EQ(CallOutcome(connection, "Connect", false), "3: Connect failed.");
}

TEST(ObjectModel, CallNoArgHonoursItsTimeOut) {
    QeltTest::PrivateBus bus;
    FakeBlueZ bluez;
    bluez.SilenceMethod("StartNotify");
    BlueZConnection connection;
    const auto start = std::chrono::steady_clock::now();
    const std::string outcome = CallOutcome(connection, "StartNotify", false, 200'000);
    // Far below the 25 s that sd-bus would wait by default.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_EQ(outcome.rfind("3: StartNotify failed: ", 0), 0u) << outcome;
}
