// Property dictionaries as BlueZ sends them: which values are kept, which are
// skipped, and that odd or malformed bodies give empty results, never errors.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "SealedMessage.h"
#include "bluez/ObjEntry.h"
#include "bluez/PropertyParsing.h"

using Qelt::BLE::BlueZUtil::InterfaceMap;
using Qelt::BLE::BlueZUtil::ObjEntry;
using Qelt::BLE::BlueZUtil::ParseInterfaceList;
using Qelt::BLE::BlueZUtil::ParsePropsDict;
using Qelt::BLE::BlueZUtil::PropertyMap;

namespace {

using Append = std::function<void(sd_bus_message*)>;

constexpr const char* kMarker = "after the value";

void AppendMarker(sd_bus_message* m) {
    ASSERT_GE(sd_bus_message_append(m, "s", kMarker), 0);
}

// The next value is the marker, so the parser left the message right after
// the value it read.
void ExpectAtMarker(sd_bus_message* m) {
    const char* text = nullptr;
    ASSERT_GT(sd_bus_message_read_basic(m, 's', &text), 0);
    EXPECT_STREQ(text, kMarker);
}

// One property dictionary entry whose variant holds the single value `value`
// of basic type `type`.
template <typename T>
void AppendBasic(sd_bus_message* m, const char* name, char type, T value) {
    const char signature[2] = {type, '\0'};
    ASSERT_GE(sd_bus_message_open_container(m, 'e', "sv"), 0);
    ASSERT_GE(sd_bus_message_append_basic(m, 's', name), 0);
    ASSERT_GE(sd_bus_message_open_container(m, 'v', signature), 0);
    ASSERT_GE(sd_bus_message_append_basic(m, type, &value), 0);
    ASSERT_GE(sd_bus_message_close_container(m), 0);
    ASSERT_GE(sd_bus_message_close_container(m), 0);
}

void AppendText(sd_bus_message* m, const char* name, char type, const char* value) {
    ASSERT_GE(sd_bus_message_open_container(m, 'e', "sv"), 0);
    ASSERT_GE(sd_bus_message_append(m, "sv", name, type == 'o' ? "o" : "s", value), 0);
    ASSERT_GE(sd_bus_message_close_container(m), 0);
}

// A whole a{sv} whose entries `entries` appends.
void AppendDict(sd_bus_message* m, const Append& entries) {
    ASSERT_GE(sd_bus_message_open_container(m, 'a', "{sv}"), 0);
    entries(m);
    ASSERT_GE(sd_bus_message_close_container(m), 0);
}

// Every kind of value a Device1 interface carries.
void AppendDeviceProperties(sd_bus_message* m) {
    AppendText(m, "Address", 's', "00:11:22:33:44:55");
    AppendBasic(m, "Paired", 'b', 0);
    AppendText(m, "Name", 's', "AB-1234.56.78");
    AppendBasic(m, "RSSI", 'n', int16_t{-60});
    AppendBasic(m, "Class", 'u', uint32_t{7936});
    ASSERT_GE(sd_bus_message_append(m, "{sv}", "UUIDs", "as", 2, "180f", "180a"), 0);
    ASSERT_GE(sd_bus_message_append(m, "{sv}", "ManufacturerData", "a{qv}", 1, 89, "ay", 2, 1, 2),
              0);
    ASSERT_GE(sd_bus_message_append(m, "{sv}", "Value", "ay", 3, 1, 2, 3), 0);
    ASSERT_GE(sd_bus_message_append(m, "{sv}", "Nested", "v", "s", "inner"), 0);
    AppendText(m, "Adapter", 'o', "/org/bluez/hci0");
}

struct DictCase {
    const char* what;
    Append entries;
    PropertyMap expected;
};

}  // namespace

TEST(ParsePropsDict, KeepsTextAndObjectPathsSkipsEverythingElse) {
    const std::vector<DictCase> cases = {
        {"device properties of every type",
         AppendDeviceProperties,
         {{"Address", "00:11:22:33:44:55"},
          {"Adapter", "/org/bluez/hci0"},
          {"Name", "AB-1234.56.78"}}},
        {"only non-text values", [](sd_bus_message* m) { AppendBasic(m, "Powered", 'b', 1); }, {}},
        {"empty dictionary", [](sd_bus_message*) {}, {}},
        {"empty text is kept",
         [](sd_bus_message* m) { AppendText(m, "Name", 's', ""); },
         {{"Name", ""}}},
        {"a later duplicate wins",
         [](sd_bus_message* m) {
             AppendText(m, "Name", 's', "first");
             AppendBasic(m, "Name", 'u', uint32_t{5});
             AppendText(m, "Name", 's', "second");
         },
         {{"Name", "second"}}},
        {"an object path is stored as its text",
         [](sd_bus_message* m) { AppendText(m, "Device", 'o', "/org/bluez/hci0/dev_AA"); },
         {{"Device", "/org/bluez/hci0/dev_AA"}}},
    };
    QeltTest::SealedMessageFactory factory;
    for (const DictCase& c : cases) {
        SCOPED_TRACE(c.what);
        auto message = factory.Build([&](sd_bus_message* m) {
            AppendDict(m, c.entries);
            AppendMarker(m);
        });
        PropertyMap parsed;
        ParsePropsDict(message.get(), parsed);
        EXPECT_EQ(parsed, c.expected);
        ExpectAtMarker(message.get());
    }
}

TEST(ParsePropsDict, AddsToWhatTheMapAlreadyHolds) {
    QeltTest::SealedMessageFactory factory;
    auto message = factory.Build([](sd_bus_message* m) {
        AppendDict(m, [](sd_bus_message* d) { AppendText(d, "Name", 's', "new"); });
    });
    PropertyMap parsed = {{"Alias", "kept"}, {"Name", "old"}};
    ParsePropsDict(message.get(), parsed);
    EXPECT_EQ(parsed, (PropertyMap{{"Alias", "kept"}, {"Name", "new"}}));
}

TEST(ParsePropsDict, BodyOfAnotherShapeLeavesEverythingUnchanged) {
    const std::vector<std::pair<const char*, Append>> bodies = {
        {"no body at all", [](sd_bus_message*) {}},
        {"a{ss}", [](sd_bus_message* m) { sd_bus_message_append(m, "a{ss}", 1, "Name", "x"); }},
        {"as", [](sd_bus_message* m) { sd_bus_message_append(m, "as", 1, "Name"); }},
        {"plain string", [](sd_bus_message* m) { sd_bus_message_append(m, "s", "Name"); }},
        {"a{sa{sv}}",
         [](sd_bus_message* m) {
             sd_bus_message_append(m, "a{sa{sv}}", 1, "org.bluez.Device1", 1, "Name", "s", "x");
         }},
    };
    QeltTest::SealedMessageFactory factory;
    for (const auto& [what, body] : bodies) {
        SCOPED_TRACE(what);
        auto message = factory.Build(body);
        PropertyMap parsed = {{"Name", "before"}};
        ParsePropsDict(message.get(), parsed);
        EXPECT_EQ(parsed, (PropertyMap{{"Name", "before"}}));
    }
}

TEST(ParseInterfaceList, StoresEachInterfaceWithItsTextProperties) {
    QeltTest::SealedMessageFactory factory;
    auto message = factory.Build([](sd_bus_message* m) {
        ASSERT_GE(sd_bus_message_open_container(m, 'a', "{sa{sv}}"), 0);
        ASSERT_GE(sd_bus_message_open_container(m, 'e', "sa{sv}"), 0);
        ASSERT_GE(sd_bus_message_append(m, "s", "org.bluez.Device1"), 0);
        AppendDict(m, AppendDeviceProperties);
        ASSERT_GE(sd_bus_message_close_container(m), 0);
        ASSERT_GE(sd_bus_message_append(m, "{sa{sv}}", "org.freedesktop.DBus.Properties", 0), 0);
        ASSERT_GE(
            sd_bus_message_append(m, "{sa{sv}}", "org.bluez.Battery1", 1, "Percentage", "y", 80),
            0);
        ASSERT_GE(sd_bus_message_close_container(m), 0);
        AppendMarker(m);
    });
    ObjEntry entry;
    entry.path = "/org/bluez/hci0/dev_00_11_22_33_44_55";
    ParseInterfaceList(message.get(), entry);
    const InterfaceMap expected = {
        {"org.bluez.Battery1", {}},
        {"org.bluez.Device1",
         {{"Address", "00:11:22:33:44:55"},
          {"Adapter", "/org/bluez/hci0"},
          {"Name", "AB-1234.56.78"}}},
        {"org.freedesktop.DBus.Properties", {}},
    };
    EXPECT_EQ(entry.interfaces, expected);
    EXPECT_EQ(entry.path, "/org/bluez/hci0/dev_00_11_22_33_44_55");
    ExpectAtMarker(message.get());
}

TEST(ParseInterfaceList, RepeatedInterfaceReplacesTheEarlierMap) {
    QeltTest::SealedMessageFactory factory;
    auto message = factory.Build([](sd_bus_message* m) {
        ASSERT_GE(sd_bus_message_append(m, "a{sa{sv}}", 2, "org.bluez.Device1", 2, "Name", "s",
                                        "first", "Alias", "s", "alias", "org.bluez.Device1", 1,
                                        "Name", "s", "second"),
                  0);
    });
    ObjEntry entry;
    entry.interfaces["org.bluez.Adapter1"] = {{"Address", "kept"}};
    ParseInterfaceList(message.get(), entry);
    const InterfaceMap expected = {
        {"org.bluez.Adapter1", {{"Address", "kept"}}},
        {"org.bluez.Device1", {{"Name", "second"}}},
    };
    EXPECT_EQ(entry.interfaces, expected);
}

TEST(ParseInterfaceList, EmptyOrOtherShapedBodiesAddNothing) {
    const std::vector<std::pair<const char*, Append>> bodies = {
        {"no body at all", [](sd_bus_message*) {}},
        {"empty list", [](sd_bus_message* m) { sd_bus_message_append(m, "a{sa{sv}}", 0); }},
        {"a{sv} instead of a{sa{sv}}",
         [](sd_bus_message* m) { sd_bus_message_append(m, "a{sv}", 1, "Name", "s", "x"); }},
        {"a{sa{ss}}",
         [](sd_bus_message* m) {
             sd_bus_message_append(m, "a{sa{ss}}", 1, "org.bluez.Device1", 1, "Name", "x");
         }},
        {"object path", [](sd_bus_message* m) { sd_bus_message_append(m, "o", "/org/bluez"); }},
    };
    QeltTest::SealedMessageFactory factory;
    for (const auto& [what, body] : bodies) {
        SCOPED_TRACE(what);
        auto message = factory.Build(body);
        ObjEntry entry;
        ParseInterfaceList(message.get(), entry);
        EXPECT_TRUE(entry.interfaces.empty());
    }
}
