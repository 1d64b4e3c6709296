// A plain sd-bus client of the simulated BlueZ for the simulator's own tests:
// its own bus connection (discovery and notify sessions belong to it), calls
// with typed replies, and a recorder of every signal org.bluez sends.
#pragma once

#include <systemd/sd-bus.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace QeltTest {

struct RecordedSignal {
    std::string path;
    std::string interface;
    std::string member;
    // InterfacesAdded / InterfacesRemoved: the object path in the body.
    std::string object;
    // InterfacesAdded: interface names; InterfacesRemoved: removed ones;
    // PropertiesChanged: changed property names then "-" + invalidated ones.
    std::vector<std::string> names;
    // PropertiesChanged: the interface whose properties changed.
    std::string changedInterface;
    // PropertiesChanged: the D-Bus signature of each changed property.
    std::map<std::string, std::string> signatures;
    // PropertiesChanged: booleans and byte arrays among the changes.
    std::map<std::string, bool> booleans;
    std::map<std::string, std::vector<uint8_t>> bytes;
};

struct CallResult {
    bool ok = false;
    std::string errorName;
    std::string errorMessage;
};

class BusClient {
public:
    BusClient();
    BusClient(const BusClient&) = delete;
    BusClient& operator=(const BusClient&) = delete;
    ~BusClient();

    sd_bus* Bus() const { return bus_; }
    std::string UniqueName() const;

    // Calls a method of org.bluez with no arguments (or the given filler).
    CallResult Call(const std::string& path, const std::string& interface,
                    const std::string& member,
                    const std::function<void(sd_bus_message*)>& append = nullptr,
                    std::chrono::milliseconds timeout = std::chrono::seconds(10),
                    sd_bus_message** reply = nullptr);

    // The D-Bus signature of a property's value, empty when it is absent.
    std::string PropertySignature(const std::string& path, const std::string& interface,
                                  const std::string& name);
    std::optional<bool> GetBool(const std::string& path, const std::string& interface,
                                const std::string& name);
    std::optional<int16_t> GetInt16(const std::string& path, const std::string& interface,
                                    const std::string& name);
    std::optional<std::string> GetString(const std::string& path, const std::string& interface,
                                         const std::string& name);
    std::optional<std::vector<uint8_t>> GetBytes(const std::string& path,
                                                 const std::string& interface,
                                                 const std::string& name);

    // Object path -> interface names, from GetManagedObjects.
    std::map<std::string, std::vector<std::string>> ManagedObjects();
    // Object path -> property name -> signature, for one interface.
    std::map<std::string, std::map<std::string, std::string>> ManagedSignatures(
        const std::string& interface);

    // Object path -> value of a string property, for the objects with that
    // interface below `prefix`.
    std::map<std::string, std::string> ManagedStrings(const std::string& interface,
                                                      const std::string& property,
                                                      const std::string& prefix = "/");
    // UUID -> characteristic path below a device.
    std::map<std::string, std::string> Characteristics(const std::string& devicePath);

    // Processes bus traffic until `done` holds or the time is up.
    bool WaitFor(const std::function<bool()>& done,
                 std::chrono::milliseconds limit = std::chrono::seconds(5));
    // Processes bus traffic for the given time.
    void Pump(std::chrono::milliseconds duration);

    const std::vector<RecordedSignal>& Signals() const { return signals_; }
    void ClearSignals() { signals_.clear(); }
    // Signals of one member (and, when given, about one object path).
    std::vector<RecordedSignal> SignalsOf(const std::string& member,
                                          const std::string& object = "") const;

private:
    static int OnSignal(sd_bus_message* message, void* userdata, sd_bus_error* error);

    sd_bus* bus_ = nullptr;
    sd_bus_slot* slot_ = nullptr;
    std::vector<RecordedSignal> signals_;
};

}  // namespace QeltTest
