// The simulator's control interface and start-up options: scripted devices
// and power, injected failures, counters, and malformed control calls that
// must be refused without harm.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "BusClient.h"
#include "Simulator.h"

namespace QeltTest {
namespace {

constexpr const char* kAdapter = "/org/bluez/hci0";
constexpr const char* kAdapterInterface = "org.bluez.Adapter1";

bool ObjectAnnounced(const BusClient& client, const std::string& path) {
    return !client.SignalsOf("InterfacesAdded", path).empty();
}

TEST(SimControl, AddedAmplifiersAdvertiseUntilSwitchedOff) {
    Simulator sim({"--scan-interval-ms", "50", "--no-default-devices"});
    const std::string path = sim.AddAmplifier("EF-3456.78.90", {{"generation", "nus"}});
    EXPECT_EQ(sim.Amplifiers().at("EF-3456.78.90"), path);
    BusClient client;
    ASSERT_TRUE(client.Call(kAdapter, kAdapterInterface, "StartDiscovery").ok);
    ASSERT_TRUE(client.WaitFor([&] { return ObjectAnnounced(client, path); }));
    EXPECT_EQ(client.GetString(path, "org.bluez.Device1", "Name"), "EF-3456.78.90");

    // Switched off it is no longer heard: its RSSI stops changing and a
    // newly added, switched-off amplifier never appears.
    sim.SetAmplifierPower("EF-3456.78.90", false);
    const std::string silent = sim.AddAmplifier("GH-4567.89.01", {{"powered", "no"}});
    client.ClearSignals();
    client.Pump(std::chrono::milliseconds(400));
    EXPECT_TRUE(client.SignalsOf("PropertiesChanged", path).empty());
    EXPECT_FALSE(ObjectAnnounced(client, silent));
    sim.SetAmplifierPower("GH-4567.89.01", true);
    EXPECT_TRUE(client.WaitFor([&] { return ObjectAnnounced(client, silent); }));
}

TEST(SimControl, NextCallFailsOnceWithTheGivenError) {
    Simulator sim;
    BusClient client;
    sim.FailNextCall("StartDiscovery", kAdapter, "org.bluez.Error.Failed", "injected");
    // A fault for another object does not fire here.
    sim.FailNextCall("org.bluez.Adapter1.StopDiscovery", "/org/bluez/hci1",
                     "org.bluez.Error.Failed", "elsewhere");
    const CallResult first = client.Call(kAdapter, kAdapterInterface, "StartDiscovery");
    EXPECT_EQ(first.errorName, "org.bluez.Error.Failed");
    EXPECT_EQ(first.errorMessage, "injected");
    EXPECT_TRUE(client.Call(kAdapter, kAdapterInterface, "StartDiscovery").ok);
    EXPECT_TRUE(client.Call(kAdapter, kAdapterInterface, "StopDiscovery").ok);
    EXPECT_EQ(sim.CallCount("StartDiscovery"), 2u);
    EXPECT_EQ(sim.CallCount("org.bluez.Adapter1.StopDiscovery"), 1u);
}

TEST(SimControl, CountersCountCallsAndSignals) {
    Simulator sim({"--scan-interval-ms", "50"});
    BusClient client;
    sim.ResetCounters();
    client.ManagedObjects();
    client.GetBool(kAdapter, kAdapterInterface, "Powered");
    ASSERT_TRUE(client.Call(kAdapter, kAdapterInterface, "StartDiscovery").ok);
    ASSERT_TRUE(client.WaitFor([&] { return client.SignalsOf("InterfacesAdded").size() >= 2; }));
    ASSERT_TRUE(client.Call(kAdapter, kAdapterInterface, "StopDiscovery").ok);
    client.Pump(std::chrono::milliseconds(100));

    const auto counters = sim.Counters();
    EXPECT_EQ(counters.at("call:org.freedesktop.DBus.ObjectManager.GetManagedObjects"), 1u);
    EXPECT_EQ(counters.at("call:org.freedesktop.DBus.Properties.Get"), 1u);
    EXPECT_EQ(sim.CallCount("StartDiscovery"), 1u);
    // Every signal the client saw was counted, and nothing else was sent.
    EXPECT_EQ(sim.SignalCount(), client.Signals().size());
    EXPECT_EQ(sim.SignalCount("InterfacesAdded"), client.SignalsOf("InterfacesAdded").size());
    // Control calls themselves are not counted.
    EXPECT_EQ(sim.CallCount("GetCounters"), 0u);
}

TEST(SimControl, MalformedControlCallsAreRefusedAndHarmless) {
    Simulator sim({"--no-default-devices"});
    const std::vector<std::pair<Simulator::Config, std::string>> badConfigs = {
        {{{"colour", "red"}}, "unknown setting"},
        {{{"generation", "v3"}}, "invalid value"},
        {{{"channels", "256"}}, "invalid value"},
        {{{"frames-per-notification", "0"}}, "invalid value"},
        {{{"bytes-per-sample", "5"}}, "invalid value"},
        {{{"address", "not-an-address"}}, "invalid value"},
        {{{"channels", "62"}, {"frames-per-notification", "64"}}, "at most 512"},
        {{{"filters", "9"}, {"channels", "2"}}, "does not exist"},
    };
    for (const auto& [config, expected] : badConfigs) {
        try {
            sim.AddAmplifier("AB-1234.56.78", config);
            ADD_FAILURE() << "accepted " << config.begin()->first;
        } catch (const std::runtime_error& error) {
            EXPECT_NE(
                std::string(error.what()).find("org.qeltble.Simulator.Error.InvalidArguments"),
                std::string::npos);
            EXPECT_NE(std::string(error.what()).find(expected), std::string::npos) << error.what();
        }
    }
    EXPECT_TRUE(sim.Amplifiers().empty());
    EXPECT_THROW(sim.SetAmplifierPower("XX-0000.00.00", true), std::runtime_error);
    EXPECT_THROW(sim.RemoveAmplifier("XX-0000.00.00"), std::runtime_error);
    EXPECT_THROW(sim.FailNextCall("", "", "org.bluez.Error.Failed", "x"), std::runtime_error);
    EXPECT_THROW(sim.FailNextCall("Connect", "not a path", "org.bluez.Error.Failed", "x"),
                 std::runtime_error);
    EXPECT_THROW(sim.FailNextCall("Connect", "", "no dots", "x"), std::runtime_error);
    EXPECT_THROW(sim.AddAdapter(), std::runtime_error);
    // A call with the wrong signature gets an error, not a crash.
    EXPECT_THROW(sim.Call("SetAmplifierPower", "s", "AB-1234.56.78"), std::runtime_error);
    EXPECT_THROW(sim.Call("NoSuchMethod", ""), std::runtime_error);
    // Dictionary values of an unsupported type.
    sd_bus_message* call = nullptr;
    ASSERT_GE(sd_bus_message_new_method_call(sim.Connection(), &call, "org.qeltble.Simulator",
                                             "/org/qeltble/Simulator", "org.qeltble.Simulator1",
                                             "AddAmplifier"),
              0);
    sd_bus_message_append(call, "sa{sv}", "AB-1234.56.78", 1, "channels", "(ii)", 1, 2);
    sd_bus_error error = SD_BUS_ERROR_NULL;
    EXPECT_LT(sd_bus_call(sim.Connection(), call, 5'000'000, &error, nullptr), 0);
    EXPECT_STREQ(error.name, "org.qeltble.Simulator.Error.InvalidArguments");
    sd_bus_error_free(&error);
    sd_bus_message_unref(call);

    // Still running and working.
    sim.AddAmplifier("AB-1234.56.78", {{"channels", "4"}});
    EXPECT_EQ(sim.Amplifiers().size(), 1u);
    EXPECT_THROW(sim.AddAmplifier("AB-1234.56.78"), std::runtime_error);
}

TEST(SimOptions, AdapterModesAndScenarioFile) {
    {
        Simulator sim({"--no-adapter"});
        BusClient client;
        const auto objects = client.ManagedObjects();
        EXPECT_EQ(objects.count(kAdapter), 0u);
        EXPECT_EQ(objects.count("/org/bluez"), 1u);
    }
    {
        Simulator sim({"--adapter-off"});
        BusClient client;
        EXPECT_EQ(client.GetBool(kAdapter, kAdapterInterface, "Powered"), false);
    }
    std::string pattern =
        (std::filesystem::temp_directory_path() / "qeltble-scenario-XXXXXX").string();
    const int fd = mkstemp(pattern.data());
    ASSERT_GE(fd, 0);
    close(fd);
    const std::string name = pattern;
    {
        std::ofstream file(name);
        file << "# two amplifiers, one remembered\n"
                "[simulator]\n"
                "temporary-timeout = 5\n"
                "\n"
                "[amplifier ZZ-0001.00.01]\n"
                "generation = nus\n"
                "remembered = yes\n"
                "\n"
                "[amplifier ZZ-0002.00.02]\n"
                "channels = 3\n"
                "address = 12:34:56:78:9a:bc\n";
    }
    {
        Simulator sim({"--scenario", name});
        const auto amplifiers = sim.Amplifiers();
        ASSERT_EQ(amplifiers.size(), 2u);
        EXPECT_EQ(amplifiers.at("ZZ-0002.00.02"), "/org/bluez/hci0/dev_12_34_56_78_9A_BC");
        BusClient client;
        const auto objects = client.ManagedObjects();
        EXPECT_EQ(objects.count(amplifiers.at("ZZ-0001.00.01")), 1u);
        EXPECT_EQ(objects.count(amplifiers.at("ZZ-0002.00.02")), 0u);
    }
    {
        std::ofstream file(name);
        file << "[amplifier ZZ-0003.00.03]\nchannels = many\n";
    }
    EXPECT_THROW(Simulator({"--scenario", name}), std::runtime_error);
    std::remove(name.c_str());
}

TEST(SimOptions, HelpDocumentsTheOptions) {
    const std::string command = std::string(Simulator::BinaryPath()) + " --help";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string text;
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) {
        text += buffer;
    }
    EXPECT_EQ(pclose(pipe), 0);
    for (const char* expected : {"--amplifier", "--scenario", "--no-adapter", "--adapter-off",
                                 "--temporary-timeout", "frames-per-notification"}) {
        EXPECT_NE(text.find(expected), std::string::npos) << expected;
    }
}

}  // namespace
}  // namespace QeltTest
