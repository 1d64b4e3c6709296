// The two PropertiesChanged signals a linked device reads: which bodies
// carry a notified value or report a disconnection, and that odd bodies
// report nothing.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "SealedMessage.h"
#include "device/LinkSignals.h"

using Qelt::BLE::ReadNotifiedValue;
using Qelt::BLE::ReportsDisconnection;

namespace {

using Append = std::function<void(sd_bus_message*)>;

// A PropertiesChanged body: the interface, the changed properties that
// `entries` appends, and one invalidated property.
Append Changed(const char* interface, const Append& entries) {
    return [=](sd_bus_message* m) {
        ASSERT_GE(sd_bus_message_append(m, "s", interface), 0);
        ASSERT_GE(sd_bus_message_open_container(m, 'a', "{sv}"), 0);
        entries(m);
        ASSERT_GE(sd_bus_message_close_container(m), 0);
        ASSERT_GE(sd_bus_message_append(m, "as", 1, "Notifying"), 0);
    };
}

constexpr const char* kCharacteristic = "org.bluez.GattCharacteristic1";
constexpr const char* kDevice = "org.bluez.Device1";

struct Case {
    const char* what;
    Append body;
    bool expected;
    std::string value = {};
};

}  // namespace

TEST(LinkSignals, OnlyAByteArrayValueIsANotification) {
    const std::vector<Case> cases = {
        {"value among other properties",
         Changed(kCharacteristic,
                 [](sd_bus_message* m) {
                     sd_bus_message_append(m, "{sv}", "Notifying", "b", 1);
                     sd_bus_message_append(m, "{sv}", "Value", "ay", 4, 0x00, 0x80, 0xFF, 0x01);
                     sd_bus_message_append(m, "{sv}", "MTU", "q", 247);
                 }),
         true, std::string("\x00\x80\xFF\x01", 4)},
        {"empty value",
         Changed(kCharacteristic,
                 [](sd_bus_message* m) { sd_bus_message_append(m, "{sv}", "Value", "ay", 0); }),
         true, ""},
        {"interface is not compared",
         Changed("org.example.Other",
                 [](sd_bus_message* m) { sd_bus_message_append(m, "{sv}", "Value", "ay", 1, 7); }),
         true, "\x07"},
        {"value of another type",
         Changed(kCharacteristic,
                 [](sd_bus_message* m) { sd_bus_message_append(m, "{sv}", "Value", "s", "7"); }),
         false},
        {"value as an array of words",
         Changed(kCharacteristic,
                 [](sd_bus_message* m) { sd_bus_message_append(m, "{sv}", "Value", "aq", 1, 7); }),
         false},
        {"other properties only",
         Changed(kCharacteristic,
                 [](sd_bus_message* m) { sd_bus_message_append(m, "{sv}", "Notifying", "b", 0); }),
         false},
        {"no body", [](sd_bus_message*) {}, false},
        {"body of another shape",
         [](sd_bus_message* m) {
             sd_bus_message_append(m, "sa{ss}", kCharacteristic, 1, "Value", "x");
         },
         false},
    };
    QeltTest::SealedMessageFactory factory;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto message = factory.Build(c.body);
        std::string value = "previous";
        EXPECT_EQ(ReadNotifiedValue(message.get(), value), c.expected);
        EXPECT_EQ(value, c.expected ? c.value : "previous");
    }
}

TEST(LinkSignals, OnlyConnectedFalseOfTheDeviceIsADisconnection) {
    auto connected = [](int value) {
        return [value](sd_bus_message* m) {
            sd_bus_message_append(m, "{sv}", "ServicesResolved", "b", 0);
            sd_bus_message_append(m, "{sv}", "Connected", "b", value);
        };
    };
    const std::vector<Case> cases = {
        {"connected false", Changed(kDevice, connected(0)), true},
        {"connected true", Changed(kDevice, connected(1)), false},
        {"other interface", Changed("org.bluez.Device2", connected(0)), false},
        {"other properties only",
         Changed(kDevice,
                 [](sd_bus_message* m) { sd_bus_message_append(m, "{sv}", "RSSI", "n", -60); }),
         false},
        {"connected of another type",
         Changed(kDevice,
                 [](sd_bus_message* m) { sd_bus_message_append(m, "{sv}", "Connected", "u", 0); }),
         false},
        {"no body", [](sd_bus_message*) {}, false},
    };
    QeltTest::SealedMessageFactory factory;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto message = factory.Build(c.body);
        EXPECT_EQ(ReportsDisconnection(message.get()), c.expected);
    }
}
