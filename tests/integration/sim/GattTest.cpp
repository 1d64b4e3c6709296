// Connecting to simulated amplifiers and their GATT databases: BlueZ's
// connect and disconnect sequences, the object cache, ReadValue, WriteValue,
// notify sessions, configuration bursts and injected link faults.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "BusClient.h"
#include "ConnectedAmplifier.h"
#include "Simulator.h"

namespace QeltTest {
namespace {

constexpr const char* kAdapter = "/org/bluez/hci0";
constexpr const char* kDevice = "org.bluez.Device1";
constexpr const char* kChar = "org.bluez.GattCharacteristic1";
constexpr const char* kSamples = "b5211406-449f-4ba0-a651-b887924b81e8";
constexpr const char* kAmplifierConfig = "b5211407-449f-4ba0-a651-b887924b81e8";
constexpr const char* kPayloadConfig = "b5211408-449f-4ba0-a651-b887924b81e8";
constexpr const char* kChannelConfig = "b5211409-449f-4ba0-a651-b887924b81e8";
constexpr const char* kFilterConfig = "b521140a-449f-4ba0-a651-b887924b81e8";
constexpr const char* kUartRx = "6e400002-b5a3-f393-e0a9-e50e24dcca9e";
constexpr const char* kUartTx = "6e400003-b5a3-f393-e0a9-e50e24dcca9e";
constexpr const char* kSmp = "da2e7828-fbce-4e01-ae9e-261174997c48";
constexpr const char* kBattery = "00002a19-0000-1000-8000-00805f9b34fb";
constexpr const char* kModel = "00002a24-0000-1000-8000-00805f9b34fb";

uint16_t U16(const Bytes& b, size_t at) {
    return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

float F32(const Bytes& b, size_t at) {
    float value = 0;
    std::memcpy(&value, b.data() + at, 4);
    return value;
}

// CRC-16/CCITT-FALSE, written out here independently of the simulator.
uint16_t Crc(const uint8_t* data, size_t size) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < size; ++i) {
        crc ^= static_cast<uint16_t>(data[i] << 8);
        for (int b = 0; b < 8; ++b) {
            crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
        }
    }
    return crc;
}

const std::vector<std::string> kFast = {"--scan-interval-ms", "50", "--disconnect-delay-ms", "300"};

TEST(SimGatt, ConnectSequenceExportsTheDatabaseAsBlueZ) {
    Connected amp(kFast, "AB-1234.56.78");
    amp.client.ClearSignals();
    ASSERT_TRUE(amp.Connect().ok);
    ASSERT_TRUE(amp.WaitResolved());

    // Connected, then the objects, then ServicesResolved.
    std::vector<std::string> order;
    for (const auto& signal : amp.client.Signals()) {
        if (signal.member == "PropertiesChanged" && signal.object == amp.path) {
            for (const auto& name : signal.names) {
                order.push_back(name);
            }
        } else if (signal.member == "InterfacesAdded" &&
                   signal.object.rfind(amp.path + "/", 0) == 0) {
            if (order.empty() || order.back() != "objects") {
                order.push_back("objects");
            }
        }
    }
    const auto position = [&](const std::string& what) {
        return std::find(order.begin(), order.end(), what) - order.begin();
    };
    EXPECT_LT(position("Connected"), position("objects"));
    EXPECT_LT(position("objects"), position("ServicesResolved"));
    EXPECT_LT(position("ServicesResolved"), static_cast<long>(order.size()));

    // Paths and types as BlueZ has them.
    const auto chars = amp.client.Characteristics(amp.path);
    for (const auto& uuid : {kSamples, kAmplifierConfig, kPayloadConfig, kChannelConfig,
                             kFilterConfig, kBattery, kModel, kSmp}) {
        ASSERT_EQ(chars.count(uuid), 1u) << uuid;
    }
    EXPECT_EQ(chars.count(kUartRx), 0u);
    const std::string samples = chars.at(kSamples);
    ASSERT_EQ(samples.find(amp.path + "/service"), 0u);
    EXPECT_NE(samples.find("/char"), std::string::npos);
    EXPECT_EQ(samples.size(), amp.path.size() + std::strlen("/service0000/char0000"));
    const auto types = amp.client.ManagedSignatures(kChar).at(samples);
    EXPECT_EQ(types.at("MTU"), "q");
    EXPECT_EQ(types.at("Flags"), "as");
    EXPECT_EQ(types.at("Notifying"), "b");
    EXPECT_EQ(types.at("Value"), "ay");
    EXPECT_EQ(types.at("Service"), "o");
    const auto descriptors =
        amp.client.ManagedStrings("org.bluez.GattDescriptor1", "UUID", samples + "/");
    ASSERT_EQ(descriptors.size(), 1u);
    EXPECT_EQ(descriptors.begin()->second, "00002902-0000-1000-8000-00805f9b34fb");
    EXPECT_EQ(amp.client.ManagedSignatures("org.bluez.GattService1").begin()->second.at("Primary"),
              "b");
}

TEST(SimGatt, GenerationsOfferTheirServices) {
    struct Case {
        const char* generation;
        const char* both;
        std::vector<const char*> present;
        std::vector<const char*> absent;
    };
    const std::vector<Case> cases = {
        {"nus",
         "no",
         {kSamples, kUartRx, kUartTx, kSmp, kBattery},
         {kAmplifierConfig, kChannelConfig}},
        {"legacy", "yes", {kSamples, kAmplifierConfig, kUartRx, kUartTx}, {}},
    };
    for (const auto& c : cases) {
        Connected amp({"--scan-interval-ms", "50", "--amplifier", "ZZ-0000.00.01", "--set",
                       std::string("generation=") + c.generation, "--set",
                       std::string("offer-both-services=") + c.both},
                      "ZZ-0000.00.01");
        ASSERT_TRUE(amp.Connect().ok);
        ASSERT_TRUE(amp.WaitResolved());
        const auto chars = amp.client.Characteristics(amp.path);
        for (const char* uuid : c.present) {
            EXPECT_EQ(chars.count(uuid), 1u) << c.generation << " " << uuid;
        }
        for (const char* uuid : c.absent) {
            EXPECT_EQ(chars.count(uuid), 0u) << c.generation << " " << uuid;
        }
    }
    Connected nus({"--scan-interval-ms", "50"}, "CD-2345.67.89");
    ASSERT_TRUE(nus.Connect().ok);
    ASSERT_TRUE(nus.WaitResolved());
    sd_bus_message* reply = nullptr;
    ASSERT_TRUE(nus.client
                    .Call(
                        nus.Char(kUartRx), "org.freedesktop.DBus.Properties", "Get",
                        [](sd_bus_message* m) { sd_bus_message_append(m, "ss", kChar, "Flags"); },
                        std::chrono::seconds(5), &reply)
                    .ok);
    char** flags = nullptr;
    sd_bus_message_enter_container(reply, 'v', "as");
    sd_bus_message_read_strv(reply, &flags);
    std::vector<std::string> names;
    for (char** f = flags; f && *f; ++f) {
        names.push_back(*f);
        free(*f);
    }
    free(flags);
    sd_bus_message_unref(reply);
    EXPECT_EQ(names, (std::vector<std::string>{"write-without-response", "write"}));
}

TEST(SimGatt, DisconnectKeepsTheCacheAndRemoteLossIsOneSignal) {
    Connected amp(kFast, "AB-1234.56.78");
    ASSERT_TRUE(amp.Connect().ok);
    ASSERT_TRUE(amp.WaitResolved());
    const auto before = amp.client.Characteristics(amp.path);

    // Disconnect answers after the disconnect timer.
    amp.client.ClearSignals();
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(amp.client.Call(amp.path, kDevice, "Disconnect").ok);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(280));
    const auto linkSignals = [&] {
        std::vector<RecordedSignal> found;
        for (const auto& signal : amp.client.SignalsOf("PropertiesChanged", amp.path)) {
            if (signal.booleans.count("Connected")) {
                found.push_back(signal);
            }
        }
        return found;
    };
    amp.client.WaitFor([&] { return !linkSignals().empty(); });
    const auto down = linkSignals();
    ASSERT_FALSE(down.empty());
    EXPECT_EQ(down.front().booleans,
              (std::map<std::string, bool>{{"Connected", false}, {"ServicesResolved", false}}));
    EXPECT_EQ(amp.client.Characteristics(amp.path), before);

    // Reconnecting reuses the objects.
    amp.client.ClearSignals();
    ASSERT_TRUE(amp.Connect().ok);
    ASSERT_TRUE(amp.WaitResolved());
    EXPECT_TRUE(amp.client.SignalsOf("InterfacesAdded").empty());
    EXPECT_TRUE(amp.client.SignalsOf("InterfacesRemoved").empty());

    // Switched off: a remote disconnect, both flags in one signal; the device
    // stays (a Connect made it non-temporary).
    amp.client.ClearSignals();
    amp.sim.SetAmplifierPower("AB-1234.56.78", false);
    ASSERT_TRUE(amp.client.WaitFor(
        [&] { return amp.client.GetBool(amp.path, kDevice, "Connected") == false; }));
    const auto lost = linkSignals();
    ASSERT_EQ(lost.size(), 1u);
    EXPECT_EQ(lost.front().booleans.size(), 2u);
    EXPECT_EQ(amp.client.ManagedObjects().count(amp.path), 1u);
}

TEST(SimGatt, ConnectWaitsForAdvertisingAndDisconnectCancelsIt) {
    Connected amp(kFast, "AB-1234.56.78");
    amp.sim.SetAmplifierPower("AB-1234.56.78", false);
    // A Connect while the amplifier is off waits until it advertises again.
    sd_bus_message* call = nullptr;
    ASSERT_GE(sd_bus_message_new_method_call(amp.client.Bus(), &call, "org.bluez", amp.path.c_str(),
                                             kDevice, "Connect"),
              0);
    bool answered = false;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    auto onReply = [](sd_bus_message* m, void* userdata, sd_bus_error*) {
        auto* state = static_cast<std::pair<bool*, sd_bus_error*>*>(userdata);
        *state->first = true;
        sd_bus_error_copy(state->second, sd_bus_message_get_error(m));
        return 0;
    };
    std::pair<bool*, sd_bus_error*> state{&answered, &error};
    ASSERT_GE(sd_bus_call_async(amp.client.Bus(), nullptr, call, onReply, &state, 20'000'000), 0);
    sd_bus_message_unref(call);
    amp.client.Pump(std::chrono::milliseconds(300));
    EXPECT_FALSE(answered);
    amp.sim.SetAmplifierPower("AB-1234.56.78", true);
    ASSERT_TRUE(amp.client.WaitFor([&] { return answered; }));
    EXPECT_FALSE(sd_bus_error_is_set(&error));
    ASSERT_TRUE(amp.client.Call(amp.path, kDevice, "Disconnect").ok);

    // Disconnect cancels a waiting Connect.
    amp.sim.SetAmplifierPower("AB-1234.56.78", false);
    answered = false;
    ASSERT_GE(sd_bus_message_new_method_call(amp.client.Bus(), &call, "org.bluez", amp.path.c_str(),
                                             kDevice, "Connect"),
              0);
    ASSERT_GE(sd_bus_call_async(amp.client.Bus(), nullptr, call, onReply, &state, 20'000'000), 0);
    sd_bus_message_unref(call);
    amp.client.Pump(std::chrono::milliseconds(100));
    BusClient other;
    EXPECT_TRUE(other.Call(amp.path, kDevice, "Disconnect").ok);
    ASSERT_TRUE(amp.client.WaitFor([&] { return answered; }));
    EXPECT_STREQ(error.name, "org.bluez.Error.Failed");
    EXPECT_STREQ(error.message, "br-connection-canceled");
    sd_bus_error_free(&error);
}

TEST(SimGatt, InjectedLinkFaults) {
    {
        Connected amp({"--scan-interval-ms", "50", "--amplifier", "ZZ-0000.00.02", "--set",
                       "connect-failures=2"},
                      "ZZ-0000.00.02");
        for (int attempt = 0; attempt < 2; ++attempt) {
            amp.client.ClearSignals();
            const CallResult failed = amp.Connect();
            amp.client.Pump(std::chrono::milliseconds(20));
            EXPECT_EQ(failed.errorName, "org.bluez.Error.Failed");
            EXPECT_EQ(failed.errorMessage, "le-connection-abort-by-local");
            // Connected went true and back to false first.
            std::vector<bool> connected;
            for (const auto& signal : amp.client.SignalsOf("PropertiesChanged", amp.path)) {
                if (signal.booleans.count("Connected")) {
                    connected.push_back(signal.booleans.at("Connected"));
                }
            }
            EXPECT_EQ(connected, (std::vector<bool>{true, false}));
        }
        EXPECT_TRUE(amp.Connect().ok);
        EXPECT_TRUE(amp.WaitResolved());
    }
    {
        Connected amp({"--scan-interval-ms", "50", "--amplifier", "ZZ-0000.00.03", "--set",
                       "services-never-resolve=yes"},
                      "ZZ-0000.00.03");
        ASSERT_TRUE(amp.Connect().ok);
        amp.client.Pump(std::chrono::milliseconds(400));
        EXPECT_EQ(amp.client.GetBool(amp.path, kDevice, "ServicesResolved"), false);
        EXPECT_TRUE(amp.client.Characteristics(amp.path).empty());
    }
    {
        // The order real BlueZ shows at times: resolved, then the objects.
        Connected amp({"--scan-interval-ms", "50", "--amplifier", "ZZ-0000.00.06", "--set",
                       "services-resolved-first=yes"},
                      "ZZ-0000.00.06");
        amp.client.ClearSignals();
        ASSERT_TRUE(amp.Connect().ok);
        ASSERT_TRUE(
            amp.client.WaitFor([&] { return amp.client.Characteristics(amp.path).size() > 10; }));
        const auto& signals = amp.client.Signals();
        size_t resolvedAt = signals.size();
        size_t firstObjectAt = signals.size();
        for (size_t i = 0; i < signals.size(); ++i) {
            if (signals[i].member == "PropertiesChanged" &&
                signals[i].booleans.count("ServicesResolved")) {
                resolvedAt = i;
            }
            if (signals[i].member == "InterfacesAdded" && firstObjectAt == signals.size()) {
                firstObjectAt = i;
            }
        }
        ASSERT_LT(firstObjectAt, signals.size());
        EXPECT_LT(resolvedAt, firstObjectAt);
    }
    {
        // An injected failure of Connect answers before anything happens.
        Connected amp(kFast, "AB-1234.56.78");
        amp.sim.FailNextCall("Connect", amp.path, "org.bluez.Error.NotReady", "Resource Not Ready");
        EXPECT_EQ(amp.Connect().errorName, "org.bluez.Error.NotReady");
        EXPECT_EQ(amp.client.GetBool(amp.path, kDevice, "Connected"), false);
    }
}

TEST(SimGatt, ReadValueReadsAndCachesAsBlueZ) {
    const std::string longModel(300, 'M');
    Connected amp({"--scan-interval-ms", "50", "--disconnect-delay-ms", "100", "--amplifier",
                   "ZZ-0000.00.04", "--set", "model-number=" + longModel, "--set", "battery=64"},
                  "ZZ-0000.00.04");
    // Not connected yet: the characteristic objects do not exist; connect.
    ASSERT_TRUE(amp.Connect().ok);
    ASSERT_TRUE(amp.WaitResolved());
    amp.client.ClearSignals();
    const Bytes model = amp.Read(kModel);
    EXPECT_EQ(std::string(model.begin(), model.end()), longModel);
    EXPECT_EQ(amp.Read(kBattery), Bytes{64});
    EXPECT_EQ(amp.Read("00002a25-0000-1000-8000-00805f9b34fb"),
              Bytes({'Z', 'Z', '-', '0', '0', '0', '0', '.', '0', '0', '.', '0', '4'}));
    // The read is signalled as a Value change and cached.
    ASSERT_TRUE(amp.client.WaitFor([&] { return !amp.Notified(kBattery).empty(); }));
    EXPECT_EQ(amp.Notified(kBattery).front(), Bytes{64});
    EXPECT_EQ(amp.client.GetBytes(amp.Char(kBattery), kChar, "Value"), Bytes{64});
    EXPECT_EQ(amp.Read(kModel, nullptr, 290).size(), 10u);

    CallResult result;
    amp.Read(kSamples, &result);
    EXPECT_EQ(result.errorName, "org.bluez.Error.NotPermitted");
    EXPECT_EQ(result.errorMessage, "Read not permitted");
    amp.Read(kModel, &result, 400);
    EXPECT_EQ(result.errorName, "org.bluez.Error.InvalidArguments");
    ASSERT_TRUE(amp.client.Call(amp.path, kDevice, "Disconnect").ok);
    amp.Read(kModel, &result);
    EXPECT_EQ(result.errorName, "org.bluez.Error.Failed");
    EXPECT_EQ(result.errorMessage, "Not connected");
}

TEST(SimGatt, NotifySessionsBelongToTheirClients) {
    Connected amp(kFast, "AB-1234.56.78");
    ASSERT_TRUE(amp.Connect().ok);
    ASSERT_TRUE(amp.WaitResolved());
    const std::string battery = amp.Char(kBattery);
    const CallResult stop = amp.client.Call(battery, kChar, "StopNotify");
    EXPECT_EQ(stop.errorName, "org.bluez.Error.Failed");
    EXPECT_EQ(stop.errorMessage, "No notify session started");
    EXPECT_EQ(amp.client.Call(amp.Char(kModel), kChar, "StartNotify").errorName,
              "org.bluez.Error.NotSupported");

    ASSERT_TRUE(amp.client.Call(battery, kChar, "StartNotify").ok);
    EXPECT_TRUE(amp.client.Call(battery, kChar, "StartNotify").ok);
    EXPECT_EQ(amp.client.GetBool(battery, kChar, "Notifying"), true);
    {
        BusClient other;
        ASSERT_TRUE(other.Call(battery, kChar, "StartNotify").ok);
        ASSERT_TRUE(amp.client.Call(battery, kChar, "StopNotify").ok);
        // The other client's session keeps notifications on.
        EXPECT_EQ(amp.client.GetBool(battery, kChar, "Notifying"), true);
    }
    // Its client left the bus: the last session is gone.
    EXPECT_TRUE(amp.client.WaitFor(
        [&] { return amp.client.GetBool(battery, kChar, "Notifying") == false; }));
}

TEST(SimGatt, ConfigurationBurstsCarryTheRecords) {
    Connected amp(
        {"--scan-interval-ms", "50", "--amplifier", "ZZ-0000.00.05", "--set", "channels=3", "--set",
         "channel-types=1,1,5", "--set", "scales=0.5,0.25,1", "--set", "frames-per-notification=2",
         "--set", "sampling-rate=500", "--set", "filters=2:0102030405060708090a0b0c0d0e"},
        "ZZ-0000.00.05");
    ASSERT_TRUE(amp.Connect().ok);
    ASSERT_TRUE(amp.WaitResolved());

    // Amplifier record: 500 Hz, 3 channels, aux 1.0, 3 * 5 bytes, 3, 5, 1.
    const Bytes record = amp.Read(kAmplifierConfig);
    ASSERT_EQ(record.size(), 16u);
    EXPECT_EQ(U16(record, 0), 500);
    EXPECT_EQ(U16(record, 2), 3);
    EXPECT_EQ(F32(record, 4), 1.0f);
    EXPECT_EQ(U16(record, 8), 15);
    EXPECT_EQ(U16(record, 10), 3);
    EXPECT_EQ(U16(record, 12), 5);
    EXPECT_EQ(U16(record, 14), 1);

    amp.client.ClearSignals();
    for (const char* uuid : {kChannelConfig, kPayloadConfig, kFilterConfig}) {
        ASSERT_TRUE(amp.client.Call(amp.Char(uuid), kChar, "StartNotify").ok);
    }
    ASSERT_TRUE(amp.client.WaitFor([&] { return amp.Notified(kFilterConfig).size() == 1; }));
    amp.client.Pump(std::chrono::milliseconds(50));
    // Channels: one record each, in id order.
    EXPECT_EQ(amp.Notified(kChannelConfig),
              (std::vector<Bytes>{{1, 0, 1, 1, 0x00, 0x00, 0x00, 0x3F},
                                  {2, 0, 1, 2, 0x00, 0x00, 0x80, 0x3E},
                                  {3, 0, 5, 3, 0x00, 0x00, 0x80, 0x3F}}));
    // Layout: frame 0 with all three channels, frame 1 without the counter.
    EXPECT_EQ(
        amp.Notified(kPayloadConfig),
        (std::vector<Bytes>{{1, 0, 0, 0}, {2, 0, 0, 0}, {3, 0, 0, 0}, {1, 0, 1, 0}, {2, 0, 1, 0}}));
    EXPECT_EQ(amp.Notified(kFilterConfig),
              (std::vector<Bytes>{{2, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}}));

    // A burst that stops early.
    amp.sim.ConfigureAmplifier("ZZ-0000.00.05", {{"config-record-limit", "1"}});
    ASSERT_TRUE(amp.client.Call(amp.Char(kChannelConfig), kChar, "StopNotify").ok);
    amp.client.ClearSignals();
    ASSERT_TRUE(amp.client.Call(amp.Char(kChannelConfig), kChar, "StartNotify").ok);
    amp.client.Pump(std::chrono::milliseconds(100));
    EXPECT_EQ(amp.Notified(kChannelConfig).size(), 1u);
}

TEST(SimGatt, AmplifierConfigurationFaultsChangeTheServedValue) {
    // More channels than a host accepts can still be described.
    Connected amp({"--scan-interval-ms", "50", "--amplifier", "ZZ-0000.00.07", "--set",
                   "channels=63", "--set", "frames-per-notification=1", "--set", "filters=none"},
                  "ZZ-0000.00.07");
    ASSERT_TRUE(amp.Connect().ok);
    ASSERT_TRUE(amp.WaitResolved());
    const Bytes model = amp.Read(kAmplifierConfig);
    ASSERT_EQ(model.size(), 16u);
    EXPECT_EQ(U16(model, 2), 63);
    EXPECT_EQ(U16(model, 8), 63 * 3);
    EXPECT_EQ(U16(model, 10), 63);
    EXPECT_EQ(U16(model, 12), 63);
    EXPECT_EQ(U16(model, 14), 0);
    amp.client.ClearSignals();
    ASSERT_TRUE(amp.client.Call(amp.Char(kChannelConfig), kChar, "StartNotify").ok);
    ASSERT_TRUE(amp.client.WaitFor([&] { return amp.Notified(kChannelConfig).size() == 63; }));
    EXPECT_EQ(amp.Notified(kChannelConfig).back(), (Bytes{63, 0, 5, 63, 0x00, 0x00, 0x80, 0x3F}));

    // Reported counts, given as typed values of a control dictionary: only
    // their fields change.
    sd_bus_message_unref(amp.sim.Call(
        "ConfigureAmplifier", "sa{sv}", "ZZ-0000.00.07", 3, "reported-channel-count", "q", 62,
        "reported-payload-config-count", "i", 0, "reported-filter-config-count", "s", "5"));
    Bytes reported = model;
    reported[2] = 62;
    reported[12] = 0;
    reported[14] = 5;
    EXPECT_EQ(amp.Read(kAmplifierConfig), reported);

    struct Case {
        Simulator::Config settings;
        Bytes served;
    };
    const Case cases[] = {
        {{{"amplifier-config-length", "15"}}, Bytes(reported.begin(), reported.begin() + 15)},
        {{{"amplifier-config-length", "0"}}, Bytes{}},
        // A raw value replaces the record; a length still cuts it.
        {{{"amplifier-config", "0102030405"}, {"amplifier-config-length", "-1"}},
         Bytes{1, 2, 3, 4, 5}},
        {{{"amplifier-config-length", "2"}}, Bytes{1, 2}},
        {{{"amplifier-config", ""}, {"amplifier-config-length", "-1"}}, Bytes{}},
        {{{"amplifier-config", "model"},
          {"reported-channel-count", "-1"},
          {"reported-payload-config-count", "-1"},
          {"reported-filter-config-count", "-1"}},
         model},
        {{{"reported-channel-config-count", "0"}, {"reported-channel-count", "0"}},
         Bytes{model[0], model[1], 0, 0, model[4], model[5], model[6], model[7], model[8], model[9],
               0, 0, model[12], model[13], model[14], model[15]}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.settings.begin()->first + "=" + c.settings.begin()->second);
        amp.sim.ConfigureAmplifier("ZZ-0000.00.07", c.settings);
        EXPECT_EQ(amp.Read(kAmplifierConfig), c.served);
    }

    // Malformed values are refused and change nothing.
    for (const Simulator::Config& bad :
         std::vector<Simulator::Config>{{{"amplifier-config", "0g"}},
                                        {{"amplifier-config", "123"}},
                                        {{"amplifier-config-length", "-2"}},
                                        {{"reported-channel-count", "65536"}},
                                        {{"payload-record-channels", "3"}},
                                        {{"channel-record-limit", "x"}}}) {
        SCOPED_TRACE(bad.begin()->first + "=" + bad.begin()->second);
        EXPECT_THROW(amp.sim.ConfigureAmplifier("ZZ-0000.00.07", bad), std::runtime_error);
    }
    EXPECT_EQ(amp.Read(kAmplifierConfig).size(), 16u);
}

TEST(SimGatt, RecordBurstFaultsCutAndChangeTheRecords) {
    Connected amp({"--scan-interval-ms",
                   "50",
                   "--amplifier",
                   "ZZ-0000.00.08",
                   "--set",
                   "channels=3",
                   "--set",
                   "channel-types=1,1,5",
                   "--set",
                   "scales=0.5,0.25,1",
                   "--set",
                   "frames-per-notification=2",
                   "--set",
                   "filters=1,2,3",
                   "--set",
                   "config-record-limit=2",
                   "--set",
                   "payload-record-limit=4",
                   "--set",
                   "channel-record-length=5",
                   "--set",
                   "filter-record-length=15",
                   "--set",
                   "payload-record-channels=1:99,3:0"},
                  "ZZ-0000.00.08");
    ASSERT_TRUE(amp.Connect().ok);
    ASSERT_TRUE(amp.WaitResolved());
    // The amplifier configuration still describes the model.
    const Bytes record = amp.Read(kAmplifierConfig);
    EXPECT_EQ(U16(record, 10), 3);
    EXPECT_EQ(U16(record, 12), 5);
    EXPECT_EQ(U16(record, 14), 3);

    amp.client.ClearSignals();
    for (const char* uuid : {kChannelConfig, kPayloadConfig, kFilterConfig}) {
        ASSERT_TRUE(amp.client.Call(amp.Char(uuid), kChar, "StartNotify").ok);
    }
    ASSERT_TRUE(amp.client.WaitFor([&] { return amp.Notified(kFilterConfig).size() == 2; }));
    amp.client.Pump(std::chrono::milliseconds(100));
    // The common limit, records cut to 5 bytes.
    EXPECT_EQ(amp.Notified(kChannelConfig),
              (std::vector<Bytes>{{1, 0, 1, 1, 0x00}, {2, 0, 1, 2, 0x00}}));
    // The payload kind's own limit; slots 1 and 3 name channels 99 and 0.
    EXPECT_EQ(amp.Notified(kPayloadConfig),
              (std::vector<Bytes>{{1, 0, 0, 0}, {99, 0, 0, 0}, {3, 0, 0, 0}, {0, 0, 1, 0}}));
    Bytes filter1(15, 0);
    filter1[0] = 1;
    Bytes filter2(15, 0);
    filter2[0] = 2;
    EXPECT_EQ(amp.Notified(kFilterConfig), (std::vector<Bytes>{filter1, filter2}));

    // Back to whole bursts of whole records.
    amp.sim.ConfigureAmplifier("ZZ-0000.00.08", {{"config-record-limit", "-1"},
                                                 {"payload-record-limit", "-1"},
                                                 {"channel-record-length", "-1"},
                                                 {"payload-record-channels", "none"}});
    ASSERT_TRUE(amp.client.Call(amp.Char(kChannelConfig), kChar, "StopNotify").ok);
    ASSERT_TRUE(amp.client.Call(amp.Char(kPayloadConfig), kChar, "StopNotify").ok);
    amp.client.ClearSignals();
    ASSERT_TRUE(amp.client.Call(amp.Char(kChannelConfig), kChar, "StartNotify").ok);
    ASSERT_TRUE(amp.client.Call(amp.Char(kPayloadConfig), kChar, "StartNotify").ok);
    ASSERT_TRUE(amp.client.WaitFor([&] { return amp.Notified(kPayloadConfig).size() == 5; }));
    amp.client.Pump(std::chrono::milliseconds(50));
    EXPECT_EQ(amp.Notified(kChannelConfig).size(), 3u);
    EXPECT_EQ(amp.Notified(kChannelConfig).back().size(), 8u);
    EXPECT_EQ(amp.Notified(kPayloadConfig)[1], (Bytes{2, 0, 0, 0}));
}

TEST(SimGatt, WritesAndTheCommandEcho) {
    Connected amp({"--scan-interval-ms", "50"}, "CD-2345.67.89");
    ASSERT_TRUE(amp.Connect().ok);
    ASSERT_TRUE(amp.WaitResolved());
    ASSERT_TRUE(amp.client.Call(amp.Char(kUartTx), kChar, "StartNotify").ok);
    amp.client.ClearSignals();

    // Request: F0, length 3, command 0x21, payload, CRC over bytes 1..6.
    Bytes request{0xF0, 0x00, 0x03, 0x21, 0x0A, 0x0B, 0x0C};
    const uint16_t requestCrc = Crc(request.data() + 1, request.size() - 1);
    request.push_back(static_cast<uint8_t>(requestCrc >> 8));
    request.push_back(static_cast<uint8_t>(requestCrc & 0xFF));
    // Sent in two writes: the amplifier gathers the frame.
    ASSERT_TRUE(amp.Write(kUartRx, Bytes(request.begin(), request.begin() + 4), "command").ok);
    ASSERT_TRUE(amp.Write(kUartRx, Bytes(request.begin() + 4, request.end()), "request").ok);
    ASSERT_TRUE(amp.client.WaitFor([&] { return !amp.Notified(kUartTx).empty(); }));
    Bytes expected{0xF0, 0x00, 0x03, 0x21, 0x00, 0x0A, 0x0B, 0x0C};
    const uint16_t responseCrc = Crc(expected.data() + 1, expected.size() - 1);
    expected.push_back(static_cast<uint8_t>(responseCrc >> 8));
    expected.push_back(static_cast<uint8_t>(responseCrc & 0xFF));
    EXPECT_EQ(amp.Notified(kUartTx).front(), expected);
    EXPECT_EQ(Crc(reinterpret_cast<const uint8_t*>("123456789"), 9), 0x29B1);

    EXPECT_EQ(amp.Write(kUartRx, {1}, "bogus").errorName, "org.bluez.Error.NotSupported");
    EXPECT_EQ(amp.Write(kModel, {1}, "request").errorName, "org.bluez.Error.NotPermitted");
    EXPECT_EQ(amp.Write(kUartRx, Bytes(245, 0), "command").errorName, "org.bluez.Error.Failed");
}

}  // namespace
}  // namespace QeltTest
