#include "Simulator.h"

#include <signal.h>
#include <sys/wait.h>

#include <cstdarg>
#include <stdexcept>
#include <thread>

#ifndef QELTBLE_SIM_PATH
#error "QELTBLE_SIM_PATH must name the simulator binary"
#endif

namespace QeltTest {

namespace {

constexpr const char* kService = "org.qeltble.Simulator";
constexpr const char* kPath = "/org/qeltble/Simulator";
constexpr const char* kInterface = "org.qeltble.Simulator1";

struct MessageRef {
    sd_bus_message* message = nullptr;
    ~MessageRef() { sd_bus_message_unref(message); }
};

bool NameHasOwner(sd_bus* bus, const char* name) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int owned = 0;
    const int r =
        sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                           "org.freedesktop.DBus", "NameHasOwner", &error, &reply, "s", name);
    if (r >= 0) {
        sd_bus_message_read(reply, "b", &owned);
    }
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    return owned != 0;
}

}  // namespace

const char* Simulator::BinaryPath() {
    return QELTBLE_SIM_PATH;
}

Simulator::Simulator(const std::vector<std::string>& options)
    : bus_(std::make_unique<PrivateBus>()) {
    std::vector<std::string> argv{QELTBLE_SIM_PATH};
    argv.insert(argv.end(), options.begin(), options.end());
    process_.Start(argv);
    try {
        if (sd_bus_open_system(&connection_) < 0) {
            throw std::runtime_error("cannot connect to the private bus");
        }
        WaitForNames(std::chrono::seconds(10));
    } catch (...) {
        // The destructor does not run for a failed construction.
        sd_bus_flush_close_unref(connection_);
        connection_ = nullptr;
        process_.Stop(SIGTERM);
        throw;
    }
}

Simulator::~Simulator() {
    sd_bus_flush_close_unref(connection_);
    process_.Stop(SIGTERM);
    bus_.reset();
}

void Simulator::WaitForNames(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (NameHasOwner(connection_, "org.bluez") && NameHasOwner(connection_, kService)) {
            return;
        }
        int status = 0;
        if (waitpid(process_.Pid(), &status, WNOHANG) == process_.Pid()) {
            throw std::runtime_error("qeltble-sim exited during start-up");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    throw std::runtime_error("qeltble-sim did not take its bus names in time");
}

sd_bus_message* Simulator::Call(const char* member, const char* signature, ...) {
    sd_bus_message* call = nullptr;
    int r = sd_bus_message_new_method_call(connection_, &call, kService, kPath, kInterface, member);
    if (r < 0) {
        throw std::runtime_error(std::string("cannot build ") + member);
    }
    MessageRef guard{call};
    va_list args;
    va_start(args, signature);
    r = sd_bus_message_appendv(call, signature, args);
    va_end(args);
    if (r < 0) {
        throw std::runtime_error(std::string("cannot build ") + member);
    }
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    r = sd_bus_call(connection_, call, 10'000'000, &error, &reply);
    if (r < 0) {
        const std::string text = std::string(member) +
                                 " failed: " + (error.name ? error.name : "?") + ": " +
                                 (error.message ? error.message : "");
        sd_bus_error_free(&error);
        throw std::runtime_error(text);
    }
    return reply;
}

sd_bus_message* Simulator::CallWithConfig(const char* member, const std::string& serial,
                                          const Config& config) {
    sd_bus_message* call = nullptr;
    if (sd_bus_message_new_method_call(connection_, &call, kService, kPath, kInterface, member) <
        0) {
        throw std::runtime_error(std::string("cannot build ") + member);
    }
    MessageRef guard{call};
    int r = sd_bus_message_append(call, "s", serial.c_str());
    if (r >= 0) {
        r = sd_bus_message_open_container(call, 'a', "{sv}");
    }
    for (const auto& [key, value] : config) {
        if (r >= 0) {
            r = sd_bus_message_append(call, "{sv}", key.c_str(), "s", value.c_str());
        }
    }
    if (r >= 0) {
        r = sd_bus_message_close_container(call);
    }
    if (r < 0) {
        throw std::runtime_error(std::string("cannot build ") + member);
    }
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    r = sd_bus_call(connection_, call, 10'000'000, &error, &reply);
    if (r < 0) {
        const std::string text = std::string(member) +
                                 " failed: " + (error.name ? error.name : "?") + ": " +
                                 (error.message ? error.message : "");
        sd_bus_error_free(&error);
        throw std::runtime_error(text);
    }
    return reply;
}

std::string Simulator::AddAmplifier(const std::string& serial, const Config& config) {
    MessageRef reply{CallWithConfig("AddAmplifier", serial, config)};
    const char* path = nullptr;
    sd_bus_message_read(reply.message, "o", &path);
    return path ? path : "";
}

void Simulator::ConfigureAmplifier(const std::string& serial, const Config& config) {
    MessageRef reply{CallWithConfig("ConfigureAmplifier", serial, config)};
}

void Simulator::RemoveAmplifier(const std::string& serial) {
    MessageRef reply{Call("RemoveAmplifier", "s", serial.c_str())};
}

void Simulator::SetAmplifierPower(const std::string& serial, bool on) {
    MessageRef reply{Call("SetAmplifierPower", "sb", serial.c_str(), on ? 1 : 0)};
}

void Simulator::SetAdapterPowered(bool powered) {
    MessageRef reply{Call("SetAdapterPowered", "b", powered ? 1 : 0)};
}

void Simulator::RemoveAdapter() {
    MessageRef reply{Call("RemoveAdapter", "")};
}

void Simulator::AddAdapter(bool powered) {
    MessageRef reply{Call("AddAdapter", "b", powered ? 1 : 0)};
}

void Simulator::FailNextCall(const std::string& method, const std::string& object,
                             const std::string& errorName, const std::string& message) {
    MessageRef reply{Call("FailNextCall", "ssss", method.c_str(), object.c_str(), errorName.c_str(),
                          message.c_str())};
}

void Simulator::ClearFailures() {
    MessageRef reply{Call("ClearFailures", "")};
}

uint64_t Simulator::CallCount(const std::string& method) {
    MessageRef reply{Call("GetCallCount", "s", method.c_str())};
    uint64_t count = 0;
    sd_bus_message_read(reply.message, "t", &count);
    return count;
}

uint64_t Simulator::SignalCount(const std::string& member) {
    MessageRef reply{Call("GetSignalCount", "s", member.c_str())};
    uint64_t count = 0;
    sd_bus_message_read(reply.message, "t", &count);
    return count;
}

std::map<std::string, uint64_t> Simulator::Counters() {
    MessageRef reply{Call("GetCounters", "")};
    std::map<std::string, uint64_t> counters;
    sd_bus_message_enter_container(reply.message, 'a', "{st}");
    const char* key = nullptr;
    uint64_t value = 0;
    while (sd_bus_message_read(reply.message, "{st}", &key, &value) > 0) {
        counters[key] = value;
    }
    return counters;
}

void Simulator::ResetCounters() {
    MessageRef reply{Call("ResetCounters", "")};
}

void Simulator::PowerCycle(const std::string& serial, std::chrono::milliseconds pause) {
    MessageRef reply{
        Call("PowerCycle", "su", serial.c_str(), static_cast<uint32_t>(pause.count()))};
}

void Simulator::DropNotifications(const std::string& serial, uint32_t count) {
    MessageRef reply{Call("DropNotifications", "su", serial.c_str(), count)};
}

void Simulator::RepeatCounter(const std::string& serial) {
    MessageRef reply{Call("RepeatCounter", "s", serial.c_str())};
}

void Simulator::StepBackCounter(const std::string& serial, uint32_t steps) {
    MessageRef reply{Call("StepBackCounter", "su", serial.c_str(), steps)};
}

void Simulator::SendWrongLengthPayload(const std::string& serial) {
    MessageRef reply{Call("SendWrongLengthPayload", "s", serial.c_str())};
}

void Simulator::Flood(const std::string& serial, uint64_t count,
                      std::chrono::milliseconds duration) {
    MessageRef reply{
        Call("Flood", "stu", serial.c_str(), count, static_cast<uint32_t>(duration.count()))};
}

std::map<std::string, std::string> Simulator::Amplifiers() {
    MessageRef reply{Call("ListAmplifiers", "")};
    std::map<std::string, std::string> amplifiers;
    sd_bus_message_enter_container(reply.message, 'a', "(so)");
    const char* serial = nullptr;
    const char* path = nullptr;
    while (sd_bus_message_read(reply.message, "(so)", &serial, &path) > 0) {
        amplifiers[serial] = path;
    }
    return amplifiers;
}

}  // namespace QeltTest
