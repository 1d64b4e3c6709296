// How fast a bare sd-bus consumer receives sample notifications from the
// simulator in flood mode, and what each notification costs in CPU: the
// consumer, the simulator and the bus daemon. Figures are printed as
// counters; nothing here fails on a slow machine.
#include <benchmark/benchmark.h>
#include <systemd/sd-bus.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "Simulator.h"

namespace {

constexpr const char* kSerial = "ZZ-9999.00.01";
constexpr const char* kSamples = "b5211406-449f-4ba0-a651-b887924b81e8";

// User plus system CPU time of a process, in seconds.
double ProcessCpuSeconds(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close == std::string::npos) {
        return 0;
    }
    std::istringstream fields(text.substr(close + 2));
    std::string skip;
    for (int i = 0; i < 11; ++i) {
        fields >> skip;  // state ... cmajflt
    }
    unsigned long long user = 0;
    unsigned long long system = 0;
    fields >> user >> system;
    return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct Consumer {
    uint64_t received = 0;
    size_t bytes = 0;
    std::chrono::steady_clock::time_point last;

    static int OnValue(sd_bus_message* m, void* userdata, sd_bus_error*) {
        auto* self = static_cast<Consumer*>(userdata);
        const char* interface = nullptr;
        if (sd_bus_message_read(m, "s", &interface) < 0 ||
            sd_bus_message_enter_container(m, 'a', "{sv}") <= 0) {
            return 0;
        }
        while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
            const char* name = nullptr;
            sd_bus_message_read(m, "s", &name);
            if (std::string(name) == "Value" && sd_bus_message_enter_container(m, 'v', "ay") > 0) {
                const void* data = nullptr;
                size_t size = 0;
                sd_bus_message_read_array(m, 'y', &data, &size);
                self->bytes = size;
                ++self->received;
                self->last = std::chrono::steady_clock::now();
                sd_bus_message_exit_container(m);
            } else {
                sd_bus_message_skip(m, "v");
            }
            sd_bus_message_exit_container(m);
        }
        return 0;
    }
};

std::string FindSampleCharacteristic(sd_bus* bus, const std::string& device) {
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    std::string found;
    if (sd_bus_call_method(bus, "org.bluez", "/", "org.freedesktop.DBus.ObjectManager",
                           "GetManagedObjects", &error, &reply, "") < 0) {
        sd_bus_error_free(&error);
        return found;
    }
    sd_bus_message_enter_container(reply, 'a', "{oa{sa{sv}}}");
    while (sd_bus_message_enter_container(reply, 'e', "oa{sa{sv}}") > 0) {
        const char* path = nullptr;
        sd_bus_message_read(reply, "o", &path);
        char* uuid = nullptr;
        if (std::string(path).rfind(device + "/", 0) == 0 &&
            sd_bus_get_property_string(bus, "org.bluez", path, "org.bluez.GattCharacteristic1",
                                       "UUID", nullptr, &uuid) >= 0) {
            if (std::string(uuid) == kSamples) {
                found = path;
            }
            free(uuid);
        }
        sd_bus_message_skip(reply, "a{sa{sv}}");
        sd_bus_message_exit_container(reply);
    }
    sd_bus_message_unref(reply);
    return found;
}

void WaitUntil(sd_bus* bus, const std::function<bool()>& done, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        if (sd_bus_process(bus, nullptr) == 0) {
            sd_bus_wait(bus, 20'000);
        }
    }
}

void BM_SimulatorFloodToBareConsumer(benchmark::State& state) {
    const auto duration = std::chrono::milliseconds(state.range(0));
    // 15 slots of 3 bytes: 45-byte notifications.
    QeltTest::Simulator sim({"--no-default-devices", "--scan-interval-ms", "50", "--amplifier",
                             kSerial, "--set", "channels=15", "--set",
                             "channel-types=1,1,1,1,1,1,1,1,1,1,1,1,1,1,5", "--set",
                             "frames-per-notification=1", "--set", "sampling-rate=10"});
    const std::string device = sim.Amplifiers().at(kSerial);
    sd_bus* bus = nullptr;
    sd_bus_open_system(&bus);
    sd_bus_call_method(bus, "org.bluez", "/org/bluez/hci0", "org.bluez.Adapter1", "StartDiscovery",
                       nullptr, nullptr, "");
    // Once the amplifier was heard, BlueZ has its object to connect to.
    WaitUntil(
        bus,
        [&] {
            char* address = nullptr;
            const int r =
                sd_bus_get_property_string(bus, "org.bluez", device.c_str(), "org.bluez.Device1",
                                           "Address", nullptr, &address);
            free(address);
            return r >= 0;
        },
        std::chrono::seconds(10));
    sd_bus_call_method(bus, "org.bluez", device.c_str(), "org.bluez.Device1", "Connect", nullptr,
                       nullptr, "");
    std::string samples;
    WaitUntil(
        bus, [&] { return !(samples = FindSampleCharacteristic(bus, device)).empty(); },
        std::chrono::seconds(10));
    Consumer consumer;
    sd_bus_slot* slot = nullptr;
    sd_bus_match_signal(bus, &slot, "org.bluez", samples.c_str(), "org.freedesktop.DBus.Properties",
                        "PropertiesChanged", Consumer::OnValue, &consumer);
    sd_bus_call_method(bus, "org.bluez", samples.c_str(), "org.bluez.GattCharacteristic1",
                       "StartNotify", nullptr, nullptr, "");
    WaitUntil(
        bus, [&] { return consumer.received > 0; }, std::chrono::seconds(5));

    for (auto _ : state) {
        const uint64_t before = consumer.received;
        const double consumerCpu = ThreadCpuSeconds();
        const double simCpu = ProcessCpuSeconds(sim.Pid());
        const double busCpu = ProcessCpuSeconds(sim.Bus().Pid());
        const auto start = std::chrono::steady_clock::now();
        sim.Flood(kSerial, 0, duration);
        // Receive while the simulator floods, then until every notification
        // it sent has arrived.
        WaitUntil(
            bus, [&] { return std::chrono::steady_clock::now() - start > duration; },
            std::chrono::seconds(60));
        const std::string finished = std::string("floods-finished:") + kSerial;
        while (sim.Counters().count(finished) == 0) {
            WaitUntil(
                bus, [] { return false; }, std::chrono::seconds(0));
            usleep(10'000);
        }
        const uint64_t sent = sim.Counters().at(std::string("flood:") + kSerial);
        WaitUntil(
            bus, [&] { return consumer.received - before >= sent; }, std::chrono::seconds(60));
        const double seconds = std::chrono::duration<double>(consumer.last - start).count();
        const double count = static_cast<double>(consumer.received - before);
        state.SetIterationTime(seconds);
        state.counters["sent"] = static_cast<double>(sent);
        state.counters["notifications"] = count;
        state.counters["notifications_per_s"] = count / seconds;
        state.counters["bytes_each"] = static_cast<double>(consumer.bytes);
        state.counters["consumer_us_each"] = (ThreadCpuSeconds() - consumerCpu) * 1e6 / count;
        state.counters["simulator_us_each"] = (ProcessCpuSeconds(sim.Pid()) - simCpu) * 1e6 / count;
        state.counters["daemon_us_each"] =
            (ProcessCpuSeconds(sim.Bus().Pid()) - busCpu) * 1e6 / count;
    }
    sd_bus_slot_unref(slot);
    sd_bus_flush_close_unref(bus);
}

BENCHMARK(BM_SimulatorFloodToBareConsumer)
    ->Arg(3000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
