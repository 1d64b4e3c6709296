// Scanning end to end: the exports and the scanner against the simulator.
// Each case runs in a process of its own, with a fresh scanner singleton.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Simulator.h"
#include "bluez/BlueZBleScanner.h"
#include "qeltble.h"

using Qelt::BLE::BlueZBleScanner;
using QeltTest::Simulator;
using testing::ElementsAre;
using namespace std::chrono_literals;

namespace {

// Devices are heard ten times a second, so a tenth of a second after the
// simulator starts hearing nothing new can arrive that has not already.
const std::vector<std::string> kFastScan = {"--scan-interval-ms", "100"};
constexpr auto kSettle = 600ms;

std::vector<std::string> Options(std::vector<std::string> more) {
    more.insert(more.end(), kFastScan.begin(), kFastScan.end());
    return more;
}

// Every callback, as "changed <count>" or "discovered <name>,<name>,...".
class Announcements {
public:
    // Never destroyed: callbacks may still arrive while the process exits.
    static Announcements& Get() {
        static Announcements* instance = new Announcements;
        return *instance;
    }
    static void OnListChanged(uint32_t count) { Get().Add("changed " + std::to_string(count)); }
    static void OnDiscovered(const char (*names)[QELTBLE_DEVICENAME_LENGTH_MAX], uint32_t count) {
        std::string text = "discovered ";
        for (uint32_t i = 0; i < count; ++i) {
            // Each slot holds a NUL-terminated name.
            EXPECT_NE(std::memchr(names[i], '\0', QELTBLE_DEVICENAME_LENGTH_MAX), nullptr);
            text += (i == 0 ? "" : ",") + std::string(names[i]);
        }
        Get().Add(text);
    }
    static void Register() {
        ASSERT_EQ(QELTBLE_RegisterDeviceListChangedCallback(&OnListChanged), 0);
        ASSERT_EQ(QELTBLE_RegisterDeviceDiscoveredCallback(&OnDiscovered), 0);
    }

    std::vector<std::string> Events() {
        std::lock_guard lock(mutex_);
        return events_;
    }

private:
    void Add(std::string event) {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
    }
    std::mutex mutex_;
    std::vector<std::string> events_;
};

std::vector<std::string> Events() {
    return Announcements::Get().Events();
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

std::vector<std::string> ListedNames() {
    std::vector<std::string> names;
    const uint32_t count = QELTBLE_GetDiscoveredDeviceCount();
    for (uint32_t i = 0; i < count; ++i) {
        char name[QELTBLE_DEVICENAME_LENGTH_MAX] = {};
        EXPECT_EQ(QELTBLE_GetDiscoveredDeviceName(i, name, sizeof name), 0);
        names.emplace_back(name);
    }
    return names;
}

std::string Join(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) {
        text += (text.empty() ? "" : ",") + name;
    }
    return text;
}

// A simulator scenario in a temporary file, removed with the object.
class ScenarioFile {
public:
    explicit ScenarioFile(const std::string& text) {
        char pattern[] = "/tmp/qeltble-scenario-XXXXXX";
        const int fd = mkstemp(pattern);
        if (fd < 0) {
            throw std::runtime_error("mkstemp failed");
        }
        path_ = pattern;
        const ssize_t written = write(fd, text.data(), text.size());
        close(fd);
        if (written != static_cast<ssize_t>(text.size())) {
            throw std::runtime_error("could not write the scenario");
        }
    }
    ~ScenarioFile() { unlink(path_.c_str()); }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// Starts discovery on the simulated adapter as another BlueZ client would.
void StartDiscoveryAsAnotherClient(Simulator& sim) {
    sd_bus_error error{nullptr, nullptr, 0};
    const int result =
        sd_bus_call_method(sim.Connection(), "org.bluez", "/org/bluez/hci0", "org.bluez.Adapter1",
                           "StartDiscovery", &error, nullptr, "");
    sd_bus_error_free(&error);
    ASSERT_GE(result, 0);
}

}  // namespace

TEST(Scanning, DefaultRuleListsOnlyNamesShapedLikeSerialNumbers) {
    // Besides amplifiers with names of other shapes: a phone, a headset and
    // two devices without a name, one of them with an alias of the right shape.
    const ScenarioFile scenario(
        "[amplifier AB-1234.56.78]\n[amplifier AB-1234.56.7]\n[amplifier AB_1234.56.78]\n"
        "[amplifier AB-1234-56.78]\n[amplifier AB-1234.56.789]\n[phone Galaxy Tab]\n"
        "[headset Studio Headset]\n[tag]\n[tag]\naddress = 11:22:33:44:55:66\n"
        "alias = EF-3456.78.90\n");
    Simulator sim(Options({"--scenario", scenario.Path()}));

    ASSERT_EQ(QELTBLE_StartScanning(), 0);
    ASSERT_TRUE(WaitFor([] { return QELTBLE_GetDiscoveredDeviceCount() >= 2; }));
    std::this_thread::sleep_for(kSettle);
    std::vector<std::string> names = ListedNames();
    std::sort(names.begin(), names.end());
    EXPECT_THAT(names, ElementsAre("AB-1234.56.78", "EF-3456.78.90"));
}

TEST(Scanning, NamesAreCopiedWithinTheCallersBuffer) {
    Simulator sim(Options({"--amplifier", "AB-1234.56.78"}));
    ASSERT_EQ(QELTBLE_StartScanning(), 0);
    ASSERT_TRUE(WaitFor([] { return QELTBLE_GetDiscoveredDeviceCount() == 1; }));

    char name[8] = "xxxxxxx";
    EXPECT_EQ(QELTBLE_GetDiscoveredDeviceName(0, name, 5), 0);
    EXPECT_EQ(std::string(name, 8), std::string("AB-1\0xx\0", 8));
    EXPECT_EQ(QELTBLE_GetDiscoveredDeviceName(0, name, 1), 0);
    EXPECT_STREQ(name, "");

    // Bad arguments: 4, the buffer untouched, the error text unchanged.
    EXPECT_EQ(QELTBLE_StartScanning(), 0);
    const std::string before = QELTBLE_GetLastErrorText();
    std::memcpy(name, "kept", 5);
    EXPECT_EQ(QELTBLE_GetDiscoveredDeviceName(1, name, sizeof name), 4);
    EXPECT_EQ(QELTBLE_GetDiscoveredDeviceName(0, name, 0), 4);
    EXPECT_EQ(QELTBLE_GetDiscoveredDeviceName(0, nullptr, 8), 4);
    EXPECT_STREQ(name, "kept");
    EXPECT_EQ(QELTBLE_GetLastErrorText(), before);
}

TEST(Scanning, AnnouncementsCarryTheWholeListInDiscoveryOrder) {
    Simulator sim(Options({"--amplifier", "AB-1234.56.78", "--amplifier", "CD-2345.67.89",
                           "--amplifier", "EF-3456.78.90"}));
    Announcements::Register();
    ASSERT_EQ(QELTBLE_StartScanning(), 0);
    ASSERT_TRUE(WaitFor([] { return QELTBLE_GetDiscoveredDeviceCount() == 3; }));
    ASSERT_TRUE(WaitFor([] { return Events().size() >= 6; }));
    std::this_thread::sleep_for(kSettle);

    // One announcement per new name (plus the one after the start when the
    // list was not empty then): list-changed first, then the names so far,
    // each time the whole list in the order of discovery.
    const std::vector<std::string> listed = ListedNames();
    const std::vector<std::string> events = Events();
    ASSERT_EQ(events.size() % 2, 0u);
    for (std::size_t i = 0; i < events.size(); i += 2) {
        const std::size_t count = std::stoul(events[i].substr(std::strlen("changed ")));
        ASSERT_GE(count, 1u);
        ASSERT_LE(count, 3u);
        EXPECT_EQ(events[i], "changed " + std::to_string(count));
        EXPECT_EQ(events[i + 1], "discovered " + Join({listed.begin(), listed.begin() + count}));
    }
    EXPECT_EQ(events.back(), "discovered " + Join(listed));

    // Starting again while scanning does nothing.
    EXPECT_EQ(QELTBLE_StartScanning(), 0);
    std::this_thread::sleep_for(kSettle);
    EXPECT_EQ(sim.CallCount("StartDiscovery"), 1u);
    EXPECT_EQ(Events().size(), events.size());

    // Stopping keeps the list; starting again announces all of it once more.
    EXPECT_EQ(QELTBLE_StopScanning(), 0);
    EXPECT_EQ(sim.CallCount("StopDiscovery"), 1u);
    EXPECT_EQ(QELTBLE_GetDiscoveredDeviceCount(), 3u);
    EXPECT_EQ(QELTBLE_StartScanning(), 0);
    ASSERT_TRUE(WaitFor([&] { return Events().size() == events.size() + 2; }));
    std::this_thread::sleep_for(kSettle);
    const std::vector<std::string> after = Events();
    ASSERT_EQ(after.size(), events.size() + 2);
    EXPECT_EQ(after[events.size()], "changed 3");
    EXPECT_EQ(after[events.size() + 1], "discovered " + Join(listed));
    EXPECT_EQ(sim.CallCount("StartDiscovery"), 2u);
}

TEST(Scanning, StartWithNothingAroundAnnouncesNothing) {
    Simulator sim(Options({"--no-default-devices"}));
    Announcements::Register();
    ASSERT_EQ(QELTBLE_StartScanning(), 0);
    std::this_thread::sleep_for(kSettle);
    EXPECT_EQ(QELTBLE_GetDiscoveredDeviceCount(), 0u);
    EXPECT_TRUE(Events().empty());
}

TEST(Scanning, NameReportedFromASecondPathIsListedOnceUnderTheNewPath) {
    Simulator sim(Options({"--amplifier", "AB-1234.56.78"}));
    Announcements::Register();
    ASSERT_EQ(QELTBLE_StartScanning(), 0);
    ASSERT_TRUE(WaitFor([] { return Events().size() >= 2; }));
    std::this_thread::sleep_for(kSettle);
    const std::vector<std::string> announced = Events();  // one or two announcements
    EXPECT_EQ(announced.back(), "discovered AB-1234.56.78");
    auto& scanner = BlueZBleScanner::GetInstance();
    std::string path;
    bool live = false;
    ASSERT_TRUE(scanner.FindObjectPath("AB-1234.56.78", path, live));
    EXPECT_EQ(path, sim.Amplifiers().at("AB-1234.56.78"));
    EXPECT_TRUE(live);

    // The amplifier comes back under another address (another object path)
    // with the same advertised name.
    sim.RemoveAmplifier("AB-1234.56.78");
    const std::string second =
        sim.AddAmplifier("AB-1234.56.78", {{"address", "C0:FF:EE:00:00:01"}});
    ASSERT_NE(second, path);
    ASSERT_TRUE(WaitFor([&] {
        scanner.FindObjectPath("AB-1234.56.78", path, live);
        return path == second;
    }));
    std::this_thread::sleep_for(kSettle);
    EXPECT_EQ(QELTBLE_GetDiscoveredDeviceCount(), 1u);
    EXPECT_EQ(Events(), announced);  // an update announces nothing
}

TEST(Scanning, SignalStrengthChangesAloneReportNothing) {
    // A remembered amplifier is in BlueZ's tree from the start, so while
    // another client discovers, all the scanner hears of it are signal
    // strength changes.
    Simulator sim(Options({"--amplifier", "AB-1234.56.78", "--set", "remembered=yes"}));
    Announcements::Register();
    EXPECT_EQ(QELTBLE_GetDiscoveredDeviceCount(), 0u);
    StartDiscoveryAsAnotherClient(sim);
    ASSERT_TRUE(WaitFor([&] { return sim.SignalCount("PropertiesChanged") >= 3; }));
    std::this_thread::sleep_for(kSettle);
    EXPECT_EQ(QELTBLE_GetDiscoveredDeviceCount(), 0u);
    EXPECT_TRUE(Events().empty());

    // Starting scanning reads the tree and lists it.
    ASSERT_EQ(QELTBLE_StartScanning(), 0);
    EXPECT_EQ(QELTBLE_GetDiscoveredDeviceCount(), 1u);
    ASSERT_TRUE(WaitFor([] { return !Events().empty(); }));
}

TEST(Scanning, ResolveLiveObjectPathLooksAtBlueZsTreeNotTheList) {
    Simulator sim(kFastScan);  // the remembered headset is in the tree, never listed
    auto& scanner = BlueZBleScanner::GetInstance();
    std::string path = "untouched";
    ASSERT_TRUE(scanner.ResolveLiveObjectPath("Studio Headset", path));
    EXPECT_EQ(path.rfind("/org/bluez/hci0/dev_", 0), 0u) << path;
    bool live = false;
    EXPECT_FALSE(scanner.FindObjectPath("Studio Headset", path, live));

    path = "untouched";
    EXPECT_FALSE(scanner.ResolveLiveObjectPath("AB-1234.56.78", path));  // not heard yet
    EXPECT_FALSE(scanner.ResolveLiveObjectPath("", path));
    EXPECT_EQ(path, "untouched");
    ASSERT_EQ(QELTBLE_StartScanning(), 0);
    ASSERT_TRUE(WaitFor([&] { return scanner.ResolveLiveObjectPath("AB-1234.56.78", path); }));
    EXPECT_EQ(path, sim.Amplifiers().at("AB-1234.56.78"));
}

TEST(Scanning, CustomNameFilterReplacesTheDefaultRule) {
    Simulator sim(Options({"--no-default-devices", "--amplifier", "AB-1234.56.78", "--amplifier",
                           "LONG-NAME-0001", "--set", "name=An amplifier with a long name"}));
    Announcements::Register();
    BlueZBleScanner::GetInstance().SetDeviceNameFilter(
        [](const std::string& name) { return name.rfind("An ", 0) == 0; });
    ASSERT_EQ(QELTBLE_StartScanning(), 0);
    ASSERT_TRUE(WaitFor([] { return Events().size() >= 2; }));
    std::this_thread::sleep_for(kSettle);
    EXPECT_EQ(QELTBLE_GetDiscoveredDeviceCount(), 1u);
    char name[64] = {};
    EXPECT_EQ(QELTBLE_GetDiscoveredDeviceName(0, name, sizeof name), 0);
    EXPECT_STREQ(name, "An amplifier with a long name");
    // Announced names are cut to 14 characters.
    EXPECT_EQ(Events().back(), "discovered An amplifier w");
}

TEST(Scanning, ShutdownLeavesTheScannerInertForGood) {
    Simulator sim(Options({"--amplifier", "AB-1234.56.78"}));
    Announcements::Register();
    ASSERT_EQ(QELTBLE_StartScanning(), 0);
    ASSERT_TRUE(WaitFor([] { return Events().size() >= 2; }));

    EXPECT_EQ(QELTBLE_Shutdown(), 0);
    const std::size_t announced = Events().size();
    EXPECT_EQ(sim.CallCount("StopDiscovery"), 1u);
    EXPECT_EQ(QELTBLE_GetDiscoveredDeviceCount(), 0u);
    auto& scanner = BlueZBleScanner::GetInstance();
    EXPECT_FALSE(scanner.IsScanning());
    std::string path;
    EXPECT_FALSE(scanner.ResolveLiveObjectPath("AB-1234.56.78", path));

    // Everything after it succeeds and does nothing.
    sim.ResetCounters();
    EXPECT_EQ(QELTBLE_StartScanning(), 0);
    EXPECT_EQ(QELTBLE_StopScanning(), 0);
    EXPECT_EQ(QELTBLE_Shutdown(), 0);
    Announcements::Register();
    sim.AddAmplifier("CD-2345.67.89");
    StartDiscoveryAsAnotherClient(sim);
    std::this_thread::sleep_for(kSettle);
    EXPECT_EQ(QELTBLE_GetDiscoveredDeviceCount(), 0u);
    EXPECT_EQ(Events().size(), announced);
    EXPECT_EQ(sim.CallCount("StartDiscovery"), 1u);  // only the other client's
    EXPECT_EQ(sim.CallCount("GetManagedObjects"), 0u);
}

TEST(Scanning, ShutdownBeforeAnyScanningStillStopsDiscovery) {
    Simulator sim(kFastScan);
    EXPECT_EQ(QELTBLE_Shutdown(), 0);  // constructs the scanner, then shuts it down
    EXPECT_EQ(sim.CallCount("StopDiscovery"), 1u);
    EXPECT_EQ(QELTBLE_StartScanning(), 0);
    EXPECT_EQ(QELTBLE_GetDiscoveredDeviceCount(), 0u);
}

namespace {

// What QELTBLE_Shutdown answered when a scanner callback called it.
struct ShutdownAttempt {
    std::mutex mutex;
    bool made = false;
    int result = 0;
    std::string errorText;
};

ShutdownAttempt& Attempt() {
    static ShutdownAttempt* attempt = new ShutdownAttempt;  // outlives the scanner
    return *attempt;
}

void ShutDownFromCallback(uint32_t) {
    ShutdownAttempt& attempt = Attempt();
    std::lock_guard lock(attempt.mutex);
    if (!attempt.made) {
        attempt.made = true;
        attempt.result = QELTBLE_Shutdown();
        attempt.errorText = QELTBLE_GetLastErrorText();
    }
}

}  // namespace

TEST(Scanning, ShutdownFromOneOfItsOwnCallbacksIsRefused) {
    // Shutting down waits for the callback thread, which would be waiting
    // for itself.
    Simulator sim(Options({"--amplifier", "AB-1234.56.78"}));
    ASSERT_EQ(QELTBLE_RegisterDeviceListChangedCallback(&ShutDownFromCallback), 0);
    ASSERT_EQ(QELTBLE_StartScanning(), 0);
    ASSERT_TRUE(WaitFor([] {
        std::lock_guard lock(Attempt().mutex);
        return Attempt().made;
    }));
    {
        std::lock_guard lock(Attempt().mutex);
        EXPECT_EQ(Attempt().result, -1);
        EXPECT_EQ(Attempt().errorText,
                  "The scanner cannot be shut down from one of its own callbacks.");
    }
    EXPECT_TRUE(BlueZBleScanner::GetInstance().IsScanning());
    EXPECT_EQ(QELTBLE_GetDiscoveredDeviceCount(), 1u);
    EXPECT_EQ(QELTBLE_Shutdown(), 0);
    EXPECT_EQ(QELTBLE_GetDiscoveredDeviceCount(), 0u);
}
