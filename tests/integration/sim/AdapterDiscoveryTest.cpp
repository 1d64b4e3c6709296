// The simulated adapter: property types, per-client discovery sessions with
// BlueZ's errors, devices announced while discovering and removed after the
// temporary timeout, and power.
#include <gtest/gtest.h>

#include <algorithm>

#include "BusClient.h"
#include "Simulator.h"

namespace QeltTest {
namespace {

constexpr const char* kAdapter = "/org/bluez/hci0";
constexpr const char* kAdapterInterface = "org.bluez.Adapter1";
constexpr const char* kDeviceInterface = "org.bluez.Device1";

std::string DevicePath(Simulator& sim, const std::string& serial) {
    return sim.Amplifiers().at(serial);
}

bool HasSignal(const BusClient& client, const std::string& member, const std::string& object,
               const std::string& name) {
    for (const auto& signal : client.SignalsOf(member, object)) {
        if (std::find(signal.names.begin(), signal.names.end(), name) != signal.names.end()) {
            return true;
        }
    }
    return false;
}

TEST(SimAdapter, PropertiesHaveBlueZTypes) {
    Simulator sim({"--scan-interval-ms", "50"});
    BusClient client;
    ASSERT_TRUE(client.Call(kAdapter, kAdapterInterface, "StartDiscovery").ok);
    const std::string amplifier = DevicePath(sim, "AB-1234.56.78");
    ASSERT_TRUE(
        client.WaitFor([&] { return !client.SignalsOf("InterfacesAdded", amplifier).empty(); }));

    const auto adapters = client.ManagedSignatures(kAdapterInterface);
    ASSERT_EQ(adapters.count(kAdapter), 1u);
    const std::map<std::string, std::string> adapterTypes = {
        {"Address", "s"},      {"AddressType", "s"}, {"Name", "s"},
        {"Alias", "s"},        {"Class", "u"},       {"Powered", "b"},
        {"Discoverable", "b"}, {"Pairable", "b"},    {"Discovering", "b"},
        {"UUIDs", "as"},       {"Modalias", "s"},    {"DiscoverableTimeout", "u"}};
    for (const auto& [name, type] : adapterTypes) {
        EXPECT_EQ(adapters.at(kAdapter).count(name) ? adapters.at(kAdapter).at(name) : "", type)
            << name;
    }

    const auto devices = client.ManagedSignatures(kDeviceInterface);
    ASSERT_EQ(devices.count(amplifier), 1u);
    const std::map<std::string, std::string> deviceTypes = {
        {"Address", "s"},       {"AddressType", "s"}, {"Name", "s"},
        {"Alias", "s"},         {"Adapter", "o"},     {"RSSI", "n"},
        {"TxPower", "n"},       {"Connected", "b"},   {"ServicesResolved", "b"},
        {"Paired", "b"},        {"Trusted", "b"},     {"Blocked", "b"},
        {"LegacyPairing", "b"}, {"UUIDs", "as"},      {"ManufacturerData", "a{qv}"}};
    for (const auto& [name, type] : deviceTypes) {
        EXPECT_EQ(devices.at(amplifier).count(name) ? devices.at(amplifier).at(name) : "", type)
            << name;
    }
    // Manufacturer data values are byte arrays inside their variants.
    sd_bus_message* reply = nullptr;
    ASSERT_TRUE(client
                    .Call(
                        amplifier, "org.freedesktop.DBus.Properties", "Get",
                        [](sd_bus_message* m) {
                            sd_bus_message_append(m, "ss", kDeviceInterface, "ManufacturerData");
                        },
                        std::chrono::seconds(5), &reply)
                    .ok);
    ASSERT_GT(sd_bus_message_enter_container(reply, 'v', "a{qv}"), 0);
    ASSERT_GT(sd_bus_message_enter_container(reply, 'a', "{qv}"), 0);
    ASSERT_GT(sd_bus_message_enter_container(reply, 'e', "qv"), 0);
    uint16_t company = 0;
    ASSERT_GE(sd_bus_message_read(reply, "q", &company), 0);
    const char* contents = nullptr;
    sd_bus_message_peek_type(reply, nullptr, &contents);
    EXPECT_STREQ(contents, "ay");
    sd_bus_message_unref(reply);

    // The nameless tag has an Alias made of its address and no Name; a
    // service-data advertiser carries ServiceData a{sv}.
    const std::string tag = "/org/bluez/hci0/dev_E2_5A_19_4F_21_07";
    ASSERT_TRUE(client.WaitFor([&] { return !client.SignalsOf("InterfacesAdded", tag).empty(); }));
    EXPECT_EQ(client.PropertySignature(tag, kDeviceInterface, "Name"), "");
    EXPECT_EQ(client.GetString(tag, kDeviceInterface, "Alias"), "E2-5A-19-4F-21-07");
    EXPECT_EQ(client.PropertySignature(tag, kDeviceInterface, "ServiceData"), "a{sv}");
}

TEST(SimAdapter, DiscoverySessionsFollowBlueZ) {
    Simulator sim({"--scan-interval-ms", "50"});
    BusClient first;
    BusClient second;

    const CallResult stopWithout = first.Call(kAdapter, kAdapterInterface, "StopDiscovery");
    EXPECT_EQ(stopWithout.errorName, "org.bluez.Error.Failed");
    EXPECT_EQ(stopWithout.errorMessage, "No discovery started");

    ASSERT_TRUE(first.Call(kAdapter, kAdapterInterface, "StartDiscovery").ok);
    const CallResult again = first.Call(kAdapter, kAdapterInterface, "StartDiscovery");
    EXPECT_EQ(again.errorName, "org.bluez.Error.InProgress");
    ASSERT_TRUE(second.Call(kAdapter, kAdapterInterface, "StartDiscovery").ok);
    EXPECT_EQ(first.GetBool(kAdapter, kAdapterInterface, "Discovering"), true);

    // One session ends; the other keeps the adapter discovering.
    ASSERT_TRUE(first.Call(kAdapter, kAdapterInterface, "StopDiscovery").ok);
    EXPECT_EQ(first.GetBool(kAdapter, kAdapterInterface, "Discovering"), true);

    // A client leaving the bus ends its session.
    BusClient observer;
    {
        BusClient leaving;
        ASSERT_TRUE(leaving.Call(kAdapter, kAdapterInterface, "StartDiscovery").ok);
    }
    ASSERT_TRUE(second.Call(kAdapter, kAdapterInterface, "StopDiscovery").ok);
    ASSERT_TRUE(observer.WaitFor(
        [&] { return observer.GetBool(kAdapter, kAdapterInterface, "Discovering") == false; }));
    EXPECT_TRUE(observer.WaitFor([&] {
        for (const auto& signal : observer.SignalsOf("PropertiesChanged", kAdapter)) {
            if (signal.booleans.count("Discovering") && !signal.booleans.at("Discovering")) {
                return true;
            }
        }
        return false;
    }));
}

TEST(SimAdapter, DiscoveryFilterIsValidatedAsBlueZDoes) {
    Simulator sim;
    BusClient client;
    struct Case {
        const char* name;
        std::function<void(sd_bus_message*)> fill;
        bool accepted;
    };
    const std::vector<Case> cases = {
        {"le transport",
         [](sd_bus_message* m) { sd_bus_message_append(m, "a{sv}", 1, "Transport", "s", "le"); },
         true},
        {"empty", [](sd_bus_message* m) { sd_bus_message_append(m, "a{sv}", 0); }, true},
        {"bleak's filter",
         [](sd_bus_message* m) {
             sd_bus_message_append(m, "a{sv}", 2, "Transport", "s", "le", "DuplicateData", "b", 0);
         },
         true},
        {"unknown key",
         [](sd_bus_message* m) { sd_bus_message_append(m, "a{sv}", 1, "Colour", "s", "red"); },
         false},
        {"bad transport",
         [](sd_bus_message* m) { sd_bus_message_append(m, "a{sv}", 1, "Transport", "s", "air"); },
         false},
        {"RSSI as int32",
         [](sd_bus_message* m) { sd_bus_message_append(m, "a{sv}", 1, "RSSI", "i", -60); }, false},
        {"RSSI and Pathloss",
         [](sd_bus_message* m) {
             sd_bus_message_append(m, "a{sv}", 2, "RSSI", "n", -60, "Pathloss", "q", 10);
         },
         false},
    };
    for (const auto& c : cases) {
        const CallResult result =
            client.Call(kAdapter, kAdapterInterface, "SetDiscoveryFilter", c.fill);
        EXPECT_EQ(result.ok, c.accepted) << c.name;
        if (!c.accepted) {
            EXPECT_EQ(result.errorName, "org.bluez.Error.InvalidArguments") << c.name;
        }
    }
    sd_bus_message* reply = nullptr;
    ASSERT_TRUE(client
                    .Call(kAdapter, kAdapterInterface, "GetDiscoveryFilters", nullptr,
                          std::chrono::seconds(5), &reply)
                    .ok);
    char** keys = nullptr;
    ASSERT_GE(sd_bus_message_read_strv(reply, &keys), 0);
    std::vector<std::string> names;
    for (char** k = keys; k && *k; ++k) {
        names.push_back(*k);
        free(*k);
    }
    free(keys);
    sd_bus_message_unref(reply);
    EXPECT_EQ(names, (std::vector<std::string>{"UUIDs", "RSSI", "Pathloss", "Transport",
                                               "DuplicateData", "Discoverable", "Pattern"}));
}

TEST(SimAdapter, DevicesAreAnnouncedWhileDiscoveringAndForgottenLater) {
    Simulator sim({"--scan-interval-ms", "50", "--temporary-timeout", "0.4"});
    BusClient client;
    const std::string headset = "/org/bluez/hci0/dev_38_18_4C_12_9E_05";
    const std::string amplifier = DevicePath(sim, "AB-1234.56.78");

    // Remembered devices are there from the start, without RSSI; the
    // amplifier is not known before it is heard.
    auto before = client.ManagedObjects();
    EXPECT_EQ(before.count(headset), 1u);
    EXPECT_EQ(before.count(amplifier), 0u);
    EXPECT_EQ(client.PropertySignature(headset, kDeviceInterface, "RSSI"), "");

    ASSERT_TRUE(client.Call(kAdapter, kAdapterInterface, "StartDiscovery").ok);
    ASSERT_TRUE(client.WaitFor([&] {
        return !client.SignalsOf("InterfacesAdded", amplifier).empty() &&
               HasSignal(client, "PropertiesChanged", headset, "RSSI");
    }));
    const auto added = client.SignalsOf("InterfacesAdded", amplifier).front();
    EXPECT_EQ(added.signatures.at("org.bluez.Device1.RSSI"), "n");
    EXPECT_EQ(added.signatures.at("org.bluez.Device1.Name"), "s");

    // While discovery runs, the device is kept even past the timeout.
    client.Pump(std::chrono::milliseconds(700));
    EXPECT_TRUE(client.SignalsOf("InterfacesRemoved", amplifier).empty());

    // After it: RSSI is invalidated, then the temporary device goes; the
    // remembered one stays.
    ASSERT_TRUE(client.Call(kAdapter, kAdapterInterface, "StopDiscovery").ok);
    ASSERT_TRUE(
        client.WaitFor([&] { return HasSignal(client, "PropertiesChanged", amplifier, "-RSSI"); }));
    ASSERT_TRUE(
        client.WaitFor([&] { return !client.SignalsOf("InterfacesRemoved", amplifier).empty(); }));
    const auto after = client.ManagedObjects();
    EXPECT_EQ(after.count(amplifier), 0u);
    EXPECT_EQ(after.count(headset), 1u);
}

TEST(SimAdapter, PowerAndPresenceOfTheAdapter) {
    Simulator sim({"--scan-interval-ms", "50"});
    BusClient client;
    ASSERT_TRUE(client.Call(kAdapter, kAdapterInterface, "StartDiscovery").ok);
    ASSERT_EQ(client.GetBool(kAdapter, kAdapterInterface, "Discovering"), true);

    // Powering off through Properties.Set ends discovery; starting again
    // while off is refused as BlueZ refuses it.
    ASSERT_TRUE(client
                    .Call(kAdapter, "org.freedesktop.DBus.Properties", "Set",
                          [](sd_bus_message* m) {
                              sd_bus_message_append(m, "ssv", kAdapterInterface, "Powered", "b", 0);
                          })
                    .ok);
    EXPECT_EQ(client.GetBool(kAdapter, kAdapterInterface, "Powered"), false);
    EXPECT_EQ(client.GetBool(kAdapter, kAdapterInterface, "Discovering"), false);
    const CallResult start = client.Call(kAdapter, kAdapterInterface, "StartDiscovery");
    EXPECT_EQ(start.errorName, "org.bluez.Error.NotReady");
    EXPECT_EQ(start.errorMessage, "Resource Not Ready");

    sim.SetAdapterPowered(true);
    EXPECT_EQ(client.GetBool(kAdapter, kAdapterInterface, "Powered"), true);

    sim.RemoveAdapter();
    ASSERT_TRUE(
        client.WaitFor([&] { return !client.SignalsOf("InterfacesRemoved", kAdapter).empty(); }));
    EXPECT_EQ(client.ManagedObjects().count(kAdapter), 0u);
    // The remembered headset went with its adapter.
    EXPECT_FALSE(
        client.SignalsOf("InterfacesRemoved", "/org/bluez/hci0/dev_38_18_4C_12_9E_05").empty());
    sim.AddAdapter(false);
    ASSERT_TRUE(
        client.WaitFor([&] { return !client.SignalsOf("InterfacesAdded", kAdapter).empty(); }));
    EXPECT_EQ(client.GetBool(kAdapter, kAdapterInterface, "Powered"), false);
}

TEST(SimAdapter, PropertyAccessErrorsAreBlueZs) {
    Simulator sim;
    BusClient client;
    auto set = [&](const char* name, const char* type, auto value) {
        return client.Call(
            kAdapter, "org.freedesktop.DBus.Properties", "Set", [&](sd_bus_message* m) {
                sd_bus_message_append(m, "ssv", kAdapterInterface, name, type, value);
            });
    };
    EXPECT_EQ(set("Address", "s", "00:11:22:33:44:55").errorName,
              "org.freedesktop.DBus.Error.PropertyReadOnly");
    EXPECT_EQ(set("Powered", "s", "yes").errorName, "org.freedesktop.DBus.Error.InvalidSignature");
    EXPECT_EQ(set("Colour", "s", "red").errorName, "org.freedesktop.DBus.Error.UnknownProperty");
    EXPECT_EQ(client.PropertySignature(kAdapter, kAdapterInterface, "Colour"), "");
    const CallResult unknown = client.Call(
        kAdapter, "org.freedesktop.DBus.Properties", "Get",
        [](sd_bus_message* m) { sd_bus_message_append(m, "ss", "org.bluez.Nope", "X"); });
    EXPECT_EQ(unknown.errorName, "org.freedesktop.DBus.Error.InvalidArgs");
    // A method with the wrong arguments does not exist, as in BlueZ.
    const CallResult wrong =
        client.Call(kAdapter, kAdapterInterface, "RemoveDevice",
                    [](sd_bus_message* m) { sd_bus_message_append(m, "s", "x"); });
    EXPECT_EQ(wrong.errorName, "org.freedesktop.DBus.Error.UnknownMethod");
    const CallResult missing =
        client.Call(kAdapter, kAdapterInterface, "RemoveDevice", [](sd_bus_message* m) {
            sd_bus_message_append(m, "o", "/org/bluez/hci0/dev_00_00_00_00_00_01");
        });
    EXPECT_EQ(missing.errorName, "org.bluez.Error.DoesNotExist");
}

}  // namespace
}  // namespace QeltTest
