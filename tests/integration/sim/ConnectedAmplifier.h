// A simulated amplifier that a test has discovered and can connect to, with
// helpers for its characteristics: read, write, and the values notified.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "BusClient.h"
#include "Simulator.h"

namespace QeltTest {

using Bytes = std::vector<uint8_t>;

// Discovers the amplifier (so BlueZ knows it) and connects.
struct Connected {
    explicit Connected(const std::vector<std::string>& options, const std::string& serial)
        : sim(options), path(sim.Amplifiers().at(serial)) {
        client.Call("/org/bluez/hci0", "org.bluez.Adapter1", "StartDiscovery");
        client.WaitFor([&] { return !client.SignalsOf("InterfacesAdded", path).empty(); });
    }
    CallResult Connect() { return client.Call(path, "org.bluez.Device1", "Connect"); }
    bool WaitResolved() {
        return client.WaitFor(
            [&] { return client.GetBool(path, "org.bluez.Device1", "ServicesResolved") == true; });
    }
    std::string Char(const std::string& uuid) { return client.Characteristics(path).at(uuid); }
    Bytes Read(const std::string& uuid, CallResult* result = nullptr, uint16_t offset = 0) {
        sd_bus_message* reply = nullptr;
        const CallResult r = client.Call(
            Char(uuid), "org.bluez.GattCharacteristic1", "ReadValue",
            [offset](sd_bus_message* m) {
                if (offset == 0) {
                    sd_bus_message_append(m, "a{sv}", 0);
                } else {
                    sd_bus_message_append(m, "a{sv}", 1, "offset", "q", offset);
                }
            },
            std::chrono::seconds(5), &reply);
        if (result) {
            *result = r;
        }
        Bytes value;
        if (r.ok) {
            const void* data = nullptr;
            size_t size = 0;
            sd_bus_message_read_array(reply, 'y', &data, &size);
            value.assign(static_cast<const uint8_t*>(data),
                         static_cast<const uint8_t*>(data) + size);
        }
        sd_bus_message_unref(reply);
        return value;
    }
    CallResult Write(const std::string& uuid, const Bytes& value, const char* type) {
        return client.Call(Char(uuid), "org.bluez.GattCharacteristic1", "WriteValue",
                           [&](sd_bus_message* m) {
                               sd_bus_message_append_array(m, 'y', value.data(), value.size());
                               sd_bus_message_append(m, "a{sv}", 1, "type", "s", type);
                           });
    }
    // Values notified on a characteristic since the signals were cleared.
    std::vector<Bytes> Notified(const std::string& uuid) {
        std::vector<Bytes> values;
        for (const auto& signal : client.SignalsOf("PropertiesChanged", Char(uuid))) {
            if (signal.bytes.count("Value")) {
                values.push_back(signal.bytes.at("Value"));
            }
        }
        return values;
    }

    Simulator sim;
    BusClient client;
    std::string path;
};

}  // namespace QeltTest
