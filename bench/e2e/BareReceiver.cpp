// The floor of the end-to-end benchmark: a bare sd-bus consumer that
// subscribes as every BlueZ client does (Connect, a match on the sample
// characteristic's PropertiesChanged, StartNotify) and then does nothing but
// read each Value and count it. Speaks the protocol of ReceiverProtocol.h.
//
//   bench_e2e_bare_receiver DEVICE_PATH
#include <poll.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "ReceiverProtocol.h"

namespace Qelt::BLE::Bench {

namespace {

constexpr const char* kBlueZ = "org.bluez";
constexpr const char* kDeviceInterface = "org.bluez.Device1";
constexpr const char* kAdapterInterface = "org.bluez.Adapter1";
constexpr const char* kCharacteristicInterface = "org.bluez.GattCharacteristic1";
constexpr const char* kSampleUuid = "b5211406-449f-4ba0-a651-b887924b81e8";
constexpr uint64_t kCallTimeoutUs = 20'000'000;
constexpr auto kSetUpLimit = std::chrono::seconds(20);

struct Tally {
    uint64_t received = 0;
    uint64_t target = 0;
    uint64_t reachedNs = 0;
};

// PropertiesChanged of the sample characteristic: (s interface, a{sv}
// changed, as invalidated). Reads Value and counts it.
int OnPropertiesChanged(sd_bus_message* message, void* userdata, sd_bus_error* /*error*/) {
    auto& tally = *static_cast<Tally*>(userdata);
    const char* interface = nullptr;
    if (sd_bus_message_read_basic(message, 's', &interface) <= 0 ||
        sd_bus_message_enter_container(message, 'a', "{sv}") <= 0) {
        return 0;
    }
    while (sd_bus_message_enter_container(message, 'e', "sv") > 0) {
        const char* name = nullptr;
        if (sd_bus_message_read_basic(message, 's', &name) <= 0) {
            return 0;
        }
        if (std::strcmp(name, "Value") == 0 &&
            sd_bus_message_enter_container(message, 'v', "ay") > 0) {
            const void* data = nullptr;
            size_t size = 0;
            if (sd_bus_message_read_array(message, 'y', &data, &size) >= 0 &&
                ++tally.received == tally.target) {
                tally.reachedNs = MonotonicNs();
            }
            sd_bus_message_exit_container(message);
        } else if (sd_bus_message_skip(message, "v") < 0) {
            return 0;
        }
        sd_bus_message_exit_container(message);
    }
    return 0;
}

bool Call(sd_bus* bus, const std::string& path, const char* interface, const char* method) {
    sd_bus_message* call = nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int r = sd_bus_message_new_method_call(bus, &call, kBlueZ, path.c_str(), interface, method);
    if (r >= 0) {
        r = sd_bus_call(bus, call, kCallTimeoutUs, &error, &reply);
    }
    if (r < 0) {
        std::fprintf(stderr, "bare receiver: %s on %s failed: %s\n", method, path.c_str(),
                     error.message != nullptr ? error.message : std::strerror(-r));
    }
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    sd_bus_message_unref(call);
    return r >= 0;
}

// Serves the bus until `done` holds or the set-up time is over.
bool ServeUntil(sd_bus* bus, const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + kSetUpLimit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        const int r = sd_bus_process(bus, nullptr);
        if (r < 0) {
            return false;
        }
        if (r == 0) {
            sd_bus_wait(bus, 20'000);
        }
    }
    return true;
}

bool BoolProperty(sd_bus* bus, const std::string& path, const char* interface, const char* name) {
    int value = 0;
    return sd_bus_get_property_trivial(bus, kBlueZ, path.c_str(), interface, name, nullptr, 'b',
                                       &value) >= 0 &&
           value != 0;
}

bool DeviceKnown(sd_bus* bus, const std::string& path) {
    char* address = nullptr;
    const int r = sd_bus_get_property_string(bus, kBlueZ, path.c_str(), kDeviceInterface, "Address",
                                             nullptr, &address);
    free(address);
    return r >= 0;
}

// The UUID property of one interface's property dictionary, or empty.
std::string ReadUuid(sd_bus_message* reply) {
    std::string uuid;
    sd_bus_message_enter_container(reply, 'a', "{sv}");
    while (sd_bus_message_enter_container(reply, 'e', "sv") > 0) {
        const char* name = nullptr;
        const char* value = nullptr;
        sd_bus_message_read_basic(reply, 's', &name);
        if (name != nullptr && std::strcmp(name, "UUID") == 0 &&
            sd_bus_message_read(reply, "v", "s", &value) > 0 && value != nullptr) {
            uuid = value;
        } else {
            sd_bus_message_skip(reply, "v");
        }
        sd_bus_message_exit_container(reply);
    }
    sd_bus_message_exit_container(reply);
    return uuid;
}

// The object path of the sample characteristic below `device`, or empty.
std::string FindSampleCharacteristic(sd_bus* bus, const std::string& device) {
    sd_bus_message* reply = nullptr;
    if (sd_bus_call_method(bus, kBlueZ, "/", "org.freedesktop.DBus.ObjectManager",
                           "GetManagedObjects", nullptr, &reply, "") < 0) {
        return std::string();
    }
    std::string found;
    const std::string prefix = device + "/";
    sd_bus_message_enter_container(reply, 'a', "{oa{sa{sv}}}");
    while (sd_bus_message_enter_container(reply, 'e', "oa{sa{sv}}") > 0) {
        const char* path = nullptr;
        sd_bus_message_read_basic(reply, 'o', &path);
        sd_bus_message_enter_container(reply, 'a', "{sa{sv}}");
        while (sd_bus_message_enter_container(reply, 'e', "sa{sv}") > 0) {
            const char* interface = nullptr;
            sd_bus_message_read_basic(reply, 's', &interface);
            if (std::string(path).rfind(prefix, 0) == 0 &&
                std::strcmp(interface, kCharacteristicInterface) == 0) {
                if (ReadUuid(reply) == kSampleUuid) {
                    found = path;
                }
            } else {
                sd_bus_message_skip(reply, "a{sv}");
            }
            sd_bus_message_exit_container(reply);
        }
        sd_bus_message_exit_container(reply);
        sd_bus_message_exit_container(reply);
    }
    sd_bus_message_unref(reply);
    return found;
}

// Connects to the device and subscribes to its sample characteristic; the
// match slot is returned through `slot`.
bool Subscribe(sd_bus* bus, const std::string& device, Tally& tally, sd_bus_slot** slot) {
    const std::string adapter = device.substr(0, device.rfind('/'));
    if (!Call(bus, adapter, kAdapterInterface, "StartDiscovery") ||
        !ServeUntil(bus, [&] { return DeviceKnown(bus, device); }) ||
        !Call(bus, device, kDeviceInterface, "Connect")) {
        return false;
    }
    Call(bus, adapter, kAdapterInterface, "StopDiscovery");
    std::string samples;
    if (!ServeUntil(bus,
                    [&] {
                        return BoolProperty(bus, device, kDeviceInterface, "ServicesResolved") &&
                               !(samples = FindSampleCharacteristic(bus, device)).empty();
                    }) ||
        sd_bus_match_signal(bus, slot, kBlueZ, samples.c_str(), "org.freedesktop.DBus.Properties",
                            "PropertiesChanged", OnPropertiesChanged, &tally) < 0) {
        std::fprintf(stderr, "bare receiver: no sample characteristic below %s\n", device.c_str());
        return false;
    }
    return Call(bus, samples, kCharacteristicInterface, "StartNotify") &&
           ServeUntil(bus, [&] { return tally.received > 0; });
}

// Until sd-bus's next deadline (an absolute CLOCK_MONOTONIC time), at most
// a second.
int PollTimeoutMs(sd_bus* bus) {
    uint64_t deadlineUs = UINT64_MAX;
    if (sd_bus_get_timeout(bus, &deadlineUs) < 0 || deadlineUs == UINT64_MAX) {
        return 1000;
    }
    const uint64_t nowUs = MonotonicNs() / 1000;
    return deadlineUs <= nowUs
               ? 0
               : static_cast<int>(std::min<uint64_t>((deadlineUs - nowUs) / 1000, 1000));
}

void Answer(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

void HandleRequest(const std::string& request, Tally& tally) {
    if (const auto target = ParseTarget(request)) {
        tally.target = *target;
        tally.reachedNs = tally.received >= *target ? MonotonicNs() : 0;
        Answer(kOkLine);
    } else if (request == kReportRequest) {
        Answer(FormatReport({tally.received, 0, tally.reachedNs, OwnCpuUs()}));
    } else {
        Answer("error unknown request");
    }
}

// Reads what standard input holds; false at its end.
bool ReadRequests(std::string& pending, Tally& tally) {
    char buffer[256];
    const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
    if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
        return false;
    }
    pending.append(buffer, n > 0 ? static_cast<size_t>(n) : 0);
    size_t end = 0;
    while ((end = pending.find('\n')) != std::string::npos) {
        HandleRequest(pending.substr(0, end), tally);
        pending.erase(0, end + 1);
    }
    return true;
}

// Like the library's bus worker: process while sd-bus makes progress, then
// sleep in poll until the bus or standard input has something.
int Serve(sd_bus* bus, Tally& tally) {
    std::string pending;
    while (true) {
        int r = 0;
        while ((r = sd_bus_process(bus, nullptr)) > 0) {
        }
        if (r < 0) {
            std::fprintf(stderr, "bare receiver: bus failed: %s\n", std::strerror(-r));
            return 1;
        }
        pollfd fds[2] = {{sd_bus_get_fd(bus), static_cast<short>(sd_bus_get_events(bus)), 0},
                         {STDIN_FILENO, POLLIN, 0}};
        if (poll(fds, 2, PollTimeoutMs(bus)) < 0 && errno != EINTR) {
            return 1;
        }
        if ((fds[1].revents & (POLLIN | POLLHUP)) != 0 && !ReadRequests(pending, tally)) {
            return 0;
        }
    }
}

}  // namespace

}  // namespace Qelt::BLE::Bench

int main(int argc, char** argv) {
    using namespace Qelt::BLE::Bench;
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DEVICE_PATH\n", argv[0]);
        return 2;
    }
    sd_bus* bus = nullptr;
    if (sd_bus_open_system(&bus) < 0) {
        std::fprintf(stderr, "bare receiver: cannot open the system bus\n");
        return 1;
    }
    Tally tally;
    sd_bus_slot* slot = nullptr;
    int status = 1;
    if (Subscribe(bus, argv[1], tally, &slot)) {
        Answer(kReadyLine);
        status = Serve(bus, tally);
    }
    sd_bus_slot_unref(slot);
    sd_bus_flush_close_unref(bus);
    return status;
}
