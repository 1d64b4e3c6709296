// Sample streaming of the simulated amplifiers: the documented signal and
// counter, both sample formats of the NUS generation, the rate, battery
// notifications, stream faults, power loss during a stream, and flooding.
#include <gtest/gtest.h>

#include "BusClient.h"
#include "ConnectedAmplifier.h"
#include "Simulator.h"

namespace QeltTest {
namespace {

constexpr const char* kChar = "org.bluez.GattCharacteristic1";
constexpr const char* kSamples = "b5211406-449f-4ba0-a651-b887924b81e8";
constexpr const char* kBattery = "00002a19-0000-1000-8000-00805f9b34fb";

// The signal as the simulator's README documents it.
int32_t Expected(uint16_t channel, uint64_t sampleIndex) {
    return static_cast<int32_t>((1000u * channel + (2u * channel + 1) * sampleIndex) % 65536) -
           32768;
}

int32_t Decode(const Bytes& payload, size_t slot, size_t width, bool littleEndian) {
    uint32_t value = 0;
    for (size_t k = 0; k < width; ++k) {
        const uint32_t byte = payload[slot * width + k];
        value |= littleEndian ? byte << (8 * k) : byte << (8 * (width - 1 - k));
    }
    if (width == 3 && (value & 0x800000)) {
        value |= 0xFF000000u;
    }
    return static_cast<int32_t>(value);
}

struct Streaming : Connected {
    Streaming(const std::vector<std::string>& options, const std::string& serial)
        : Connected(options, serial) {
        EXPECT_TRUE(Connect().ok);
        EXPECT_TRUE(WaitResolved());
        samples = Char(kSamples);
        client.ClearSignals();
    }
    void Start() { ASSERT_TRUE(client.Call(samples, kChar, "StartNotify").ok); }
    std::vector<Bytes> Received() {
        std::vector<Bytes> values;
        for (const auto& signal : client.SignalsOf("PropertiesChanged", samples)) {
            if (signal.bytes.count("Value")) {
                values.push_back(signal.bytes.at("Value"));
            }
        }
        return values;
    }
    bool WaitCount(size_t count, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
        return client.WaitFor([&] { return Received().size() >= count; }, limit);
    }
    std::string samples;
};

TEST(SimStream, LegacySamplesFollowTheDocumentedSignal) {
    // Channels 1 and 2 carry the signal, channel 3 counts notifications.
    Streaming amp(
        {"--scan-interval-ms", "50", "--amplifier", "ZZ-0000.00.10", "--set", "channels=3", "--set",
         "channel-types=1,1,5", "--set", "frames-per-notification=2", "--set", "sampling-rate=500"},
        "ZZ-0000.00.10");
    amp.Start();
    ASSERT_TRUE(amp.WaitCount(20));
    const auto received = amp.Received();
    for (size_t n = 0; n < received.size(); ++n) {
        const Bytes& payload = received[n];
        // Layout: frame 0 = channels 1, 2, 3; frame 1 = channels 1, 2.
        ASSERT_EQ(payload.size(), 15u);
        EXPECT_EQ(Decode(payload, 2, 3, false), static_cast<int32_t>(n + 1)) << n;
        EXPECT_EQ(Decode(payload, 0, 3, false), Expected(1, 2 * n)) << n;
        EXPECT_EQ(Decode(payload, 1, 3, false), Expected(2, 2 * n)) << n;
        EXPECT_EQ(Decode(payload, 3, 3, false), Expected(1, 2 * n + 1)) << n;
        EXPECT_EQ(Decode(payload, 4, 3, false), Expected(2, 2 * n + 1)) << n;
    }
    // Negative values are 24-bit two's complement: channel 1 starts at -31768.
    EXPECT_EQ(Decode(received[0], 0, 3, false), -31768);
}

TEST(SimStream, NusSampleFormats) {
    struct Case {
        const char* width;
        const char* order;
    };
    for (const Case c :
         {Case{"3", "big"}, Case{"3", "little"}, Case{"4", "big"}, Case{"4", "little"}}) {
        Streaming amp({"--scan-interval-ms", "50", "--amplifier", "ZZ-0000.00.11:nus"},
                      "ZZ-0000.00.11");
        // The layout the host switched the amplifier to, told to the simulator.
        amp.sim.ConfigureAmplifier("ZZ-0000.00.11", {{"channels", "2"},
                                                     {"frames-per-notification", "3"},
                                                     {"bytes-per-sample", c.width},
                                                     {"byte-order", c.order},
                                                     {"sampling-rate", "600"}});
        amp.Start();
        ASSERT_TRUE(amp.WaitCount(5));
        const size_t width = std::stoul(c.width);
        const bool little = std::string(c.order) == "little";
        const auto received = amp.Received();
        for (size_t n = 0; n < received.size(); ++n) {
            ASSERT_EQ(received[n].size(), 3 * 2 * width);
            for (size_t frame = 0; frame < 3; ++frame) {
                for (uint16_t channel = 1; channel <= 2; ++channel) {
                    EXPECT_EQ(Decode(received[n], frame * 2 + channel - 1, width, little),
                              Expected(channel, 3 * n + frame))
                        << c.width << c.order << " n=" << n;
                }
            }
        }
    }
}

TEST(SimStream, RateAndBatteryWhileStreaming) {
    Streaming amp(
        {"--scan-interval-ms", "50", "--battery-interval-ms", "100", "--amplifier", "ZZ-0000.00.12",
         "--set", "sampling-rate=400", "--set", "frames-per-notification=4", "--set", "battery=55"},
        "ZZ-0000.00.12");
    const std::string battery = amp.Char(kBattery);
    ASSERT_TRUE(amp.client.Call(battery, kChar, "StartNotify").ok);
    const auto levels = [&] {
        std::vector<Bytes> values;
        for (const auto& signal : amp.client.SignalsOf("PropertiesChanged", battery)) {
            if (signal.bytes.count("Value")) {
                values.push_back(signal.bytes.at("Value"));
            }
        }
        return values;
    };
    // No stream, no battery notifications.
    amp.client.Pump(std::chrono::milliseconds(300));
    EXPECT_TRUE(levels().empty());

    amp.Start();
    const auto start = std::chrono::steady_clock::now();
    amp.client.Pump(std::chrono::milliseconds(1000));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // 100 notifications a second; never ahead of the schedule.
    const double count = static_cast<double>(amp.Received().size());
    EXPECT_LE(count, 100 * seconds + 2);
    EXPECT_GE(count, 50 * seconds);
    ASSERT_FALSE(levels().empty());
    EXPECT_EQ(levels().front(), Bytes{55});
    EXPECT_GT(amp.sim.Counters().at("notifications:ZZ-0000.00.12"), 0u);

    // StopNotify ends the stream.
    ASSERT_TRUE(amp.client.Call(amp.samples, kChar, "StopNotify").ok);
    amp.client.Pump(std::chrono::milliseconds(50));
    amp.client.ClearSignals();
    amp.client.Pump(std::chrono::milliseconds(200));
    EXPECT_TRUE(amp.Received().empty());
}

TEST(SimStream, CounterFaultsAndWrongLength) {
    Streaming amp(
        {"--scan-interval-ms", "50", "--amplifier", "ZZ-0000.00.13", "--set", "channels=2", "--set",
         "channel-types=1,5", "--set", "frames-per-notification=1", "--set", "sampling-rate=100"},
        "ZZ-0000.00.13");
    amp.Start();
    ASSERT_TRUE(amp.WaitCount(3));
    amp.sim.DropNotifications("ZZ-0000.00.13", 2);
    ASSERT_TRUE(amp.WaitCount(6));
    amp.sim.RepeatCounter("ZZ-0000.00.13");
    ASSERT_TRUE(amp.WaitCount(9));
    amp.sim.StepBackCounter("ZZ-0000.00.13", 3);
    ASSERT_TRUE(amp.WaitCount(12));
    amp.sim.SendWrongLengthPayload("ZZ-0000.00.13");
    ASSERT_TRUE(amp.WaitCount(15));

    std::vector<int32_t> counters;
    size_t shortPayloads = 0;
    for (const Bytes& payload : amp.Received()) {
        if (payload.size() != 6) {
            EXPECT_EQ(payload.size(), 5u);
            ++shortPayloads;
            continue;
        }
        counters.push_back(Decode(payload, 1, 3, false));
    }
    EXPECT_EQ(shortPayloads, 1u);
    size_t gaps = 0;
    size_t repeats = 0;
    size_t stepsBack = 0;
    for (size_t i = 1; i < counters.size(); ++i) {
        const int32_t step = counters[i] - counters[i - 1];
        gaps += step == 3;
        repeats += step == 0;
        stepsBack += step == -3;
        EXPECT_TRUE(step == 1 || step == 3 || step == 0 || step == -3 || step == 2) << step;
    }
    EXPECT_EQ(gaps, 1u);
    EXPECT_EQ(repeats, 1u);
    EXPECT_EQ(stepsBack, 1u);
    EXPECT_EQ(amp.sim.Counters().at("dropped:ZZ-0000.00.13"), 2u);
}

TEST(SimStream, SwitchedOffDuringAStream) {
    Streaming amp({"--scan-interval-ms", "50", "--disconnect-delay-ms", "100", "--amplifier",
                   "ZZ-0000.00.14"},
                  "ZZ-0000.00.14");
    amp.Start();
    ASSERT_TRUE(amp.WaitCount(2));
    amp.sim.PowerCycle("ZZ-0000.00.14", std::chrono::milliseconds(600));
    ASSERT_TRUE(amp.client.WaitFor(
        [&] { return amp.client.GetBool(amp.path, "org.bluez.Device1", "Connected") == false; }));
    amp.client.Pump(std::chrono::milliseconds(50));
    amp.client.ClearSignals();
    amp.client.Pump(std::chrono::milliseconds(150));
    EXPECT_TRUE(amp.Received().empty());
    // The object stays; a Connect waits for the amplifier and succeeds when
    // it is back. The notify session is registered again and streams anew.
    EXPECT_EQ(amp.client.ManagedObjects().count(amp.path), 1u);
    const auto before = std::chrono::steady_clock::now();
    ASSERT_TRUE(amp.Connect().ok);
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(200));
    ASSERT_TRUE(amp.WaitResolved());
    ASSERT_TRUE(amp.WaitCount(2));
    EXPECT_EQ(amp.client.GetBool(amp.samples, kChar, "Notifying"), true);
}

TEST(SimStream, FloodSendsAsFastAsTheBusTakes) {
    Streaming amp({"--scan-interval-ms", "50", "--amplifier", "ZZ-0000.00.15"}, "ZZ-0000.00.15");
    amp.Start();
    ASSERT_TRUE(amp.WaitCount(1));
    EXPECT_THROW(amp.sim.Flood("ZZ-0000.00.15", 0, std::chrono::milliseconds(0)),
                 std::runtime_error);
    amp.client.ClearSignals();
    amp.sim.Flood("ZZ-0000.00.15", 3000, std::chrono::milliseconds(0));
    ASSERT_TRUE(amp.WaitCount(3000, std::chrono::seconds(20)));
    ASSERT_TRUE(amp.client.WaitFor([&] {
        const auto counters = amp.sim.Counters();
        return counters.count("floods-finished:ZZ-0000.00.15") != 0;
    }));
    EXPECT_EQ(amp.sim.Counters().at("flood:ZZ-0000.00.15"), 3000u);
    // Counters (the default layout's slot 8) run on without gaps.
    const auto received = amp.Received();
    for (size_t i = 1; i < received.size(); ++i) {
        const int32_t step =
            Decode(received[i], 8, 3, false) - Decode(received[i - 1], 8, 3, false);
        ASSERT_EQ(step, 1) << i;
    }
}

}  // namespace
}  // namespace QeltTest
