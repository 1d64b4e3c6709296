#include "BusClient.h"

#include <poll.h>

#include <stdexcept>

namespace QeltTest {

namespace {

struct MessageRef {
    sd_bus_message* message = nullptr;
    ~MessageRef() { sd_bus_message_unref(message); }
};

// Reads a{sv} and records the names and signatures of its entries.
void ReadChanges(sd_bus_message* m, RecordedSignal& signal) {
    if (sd_bus_message_enter_container(m, 'a', "{sv}") <= 0) {
        return;
    }
    while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
        const char* name = nullptr;
        const char* contents = nullptr;
        sd_bus_message_read(m, "s", &name);
        sd_bus_message_peek_type(m, nullptr, &contents);
        signal.names.push_back(name);
        signal.signatures[name] = contents ? contents : "";
        const std::string type = contents ? contents : "";
        if (type == "b") {
            int value = 0;
            sd_bus_message_read(m, "v", "b", &value);
            signal.booleans[name] = value != 0;
        } else if (type == "ay") {
            sd_bus_message_enter_container(m, 'v', "ay");
            const void* data = nullptr;
            size_t size = 0;
            sd_bus_message_read_array(m, 'y', &data, &size);
            const auto* bytes = static_cast<const uint8_t*>(data);
            signal.bytes[name].assign(bytes, bytes + size);
            sd_bus_message_exit_container(m);
        } else {
            sd_bus_message_skip(m, "v");
        }
        sd_bus_message_exit_container(m);
    }
    sd_bus_message_exit_container(m);
}

}  // namespace

BusClient::BusClient() {
    if (sd_bus_open_system(&bus_) < 0) {
        throw std::runtime_error("cannot connect to the private bus");
    }
    if (sd_bus_add_match(bus_, &slot_, "type='signal',sender='org.bluez'", OnSignal, this) < 0) {
        throw std::runtime_error("cannot watch org.bluez signals");
    }
}

BusClient::~BusClient() {
    sd_bus_slot_unref(slot_);
    sd_bus_flush_close_unref(bus_);
}

std::string BusClient::UniqueName() const {
    const char* name = nullptr;
    sd_bus_get_unique_name(bus_, &name);
    return name ? name : "";
}

int BusClient::OnSignal(sd_bus_message* m, void* userdata, sd_bus_error* /*error*/) {
    auto* self = static_cast<BusClient*>(userdata);
    RecordedSignal signal;
    signal.path = sd_bus_message_get_path(m) ? sd_bus_message_get_path(m) : "";
    signal.interface = sd_bus_message_get_interface(m) ? sd_bus_message_get_interface(m) : "";
    signal.member = sd_bus_message_get_member(m) ? sd_bus_message_get_member(m) : "";
    if (signal.member == "InterfacesAdded") {
        const char* object = nullptr;
        sd_bus_message_read(m, "o", &object);
        signal.object = object ? object : "";
        sd_bus_message_enter_container(m, 'a', "{sa{sv}}");
        while (sd_bus_message_enter_container(m, 'e', "sa{sv}") > 0) {
            const char* interface = nullptr;
            sd_bus_message_read(m, "s", &interface);
            signal.names.push_back(interface);
            RecordedSignal properties;
            ReadChanges(m, properties);
            for (const auto& [name, sig] : properties.signatures) {
                signal.signatures[std::string(interface) + "." + name] = sig;
            }
            sd_bus_message_exit_container(m);
        }
    } else if (signal.member == "InterfacesRemoved") {
        const char* object = nullptr;
        sd_bus_message_read(m, "o", &object);
        signal.object = object ? object : "";
        char** names = nullptr;
        sd_bus_message_read_strv(m, &names);
        for (char** n = names; n && *n; ++n) {
            signal.names.push_back(*n);
            free(*n);
        }
        free(names);
    } else if (signal.member == "PropertiesChanged") {
        const char* interface = nullptr;
        sd_bus_message_read(m, "s", &interface);
        signal.changedInterface = interface ? interface : "";
        signal.object = signal.path;
        ReadChanges(m, signal);
        char** invalidated = nullptr;
        sd_bus_message_read_strv(m, &invalidated);
        for (char** n = invalidated; n && *n; ++n) {
            signal.names.push_back(std::string("-") + *n);
            free(*n);
        }
        free(invalidated);
    }
    self->signals_.push_back(std::move(signal));
    return 0;
}

CallResult BusClient::Call(const std::string& path, const std::string& interface,
                           const std::string& member,
                           const std::function<void(sd_bus_message*)>& append,
                           std::chrono::milliseconds timeout, sd_bus_message** reply) {
    sd_bus_message* call = nullptr;
    CallResult result;
    if (sd_bus_message_new_method_call(bus_, &call, "org.bluez", path.c_str(), interface.c_str(),
                                       member.c_str()) < 0) {
        result.errorName = "build failed";
        return result;
    }
    MessageRef guard{call};
    if (append) {
        append(call);
    }
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* answer = nullptr;
    const int r =
        sd_bus_call(bus_, call, static_cast<uint64_t>(timeout.count()) * 1000, &error, &answer);
    result.ok = r >= 0;
    if (!result.ok) {
        result.errorName = error.name ? error.name : "";
        result.errorMessage = error.message ? error.message : "";
    }
    if (reply != nullptr) {
        *reply = answer;
    } else {
        sd_bus_message_unref(answer);
    }
    sd_bus_error_free(&error);
    return result;
}

std::string BusClient::PropertySignature(const std::string& path, const std::string& interface,
                                         const std::string& name) {
    sd_bus_message* reply = nullptr;
    const CallResult result = Call(
        path, "org.freedesktop.DBus.Properties", "Get",
        [&](sd_bus_message* m) { sd_bus_message_append(m, "ss", interface.c_str(), name.c_str()); },
        std::chrono::seconds(5), &reply);
    MessageRef guard{reply};
    if (!result.ok) {
        return "";
    }
    const char* contents = nullptr;
    sd_bus_message_peek_type(reply, nullptr, &contents);
    return contents ? contents : "";
}

std::optional<bool> BusClient::GetBool(const std::string& path, const std::string& interface,
                                       const std::string& name) {
    int value = 0;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    const int r = sd_bus_get_property_trivial(bus_, "org.bluez", path.c_str(), interface.c_str(),
                                              name.c_str(), &error, 'b', &value);
    sd_bus_error_free(&error);
    return r < 0 ? std::nullopt : std::optional<bool>(value != 0);
}

std::optional<int16_t> BusClient::GetInt16(const std::string& path, const std::string& interface,
                                           const std::string& name) {
    int16_t value = 0;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    const int r = sd_bus_get_property_trivial(bus_, "org.bluez", path.c_str(), interface.c_str(),
                                              name.c_str(), &error, 'n', &value);
    sd_bus_error_free(&error);
    return r < 0 ? std::nullopt : std::optional<int16_t>(value);
}

std::optional<std::string> BusClient::GetString(const std::string& path,
                                                const std::string& interface,
                                                const std::string& name) {
    char* value = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    const int r = sd_bus_get_property_string(bus_, "org.bluez", path.c_str(), interface.c_str(),
                                             name.c_str(), &error, &value);
    sd_bus_error_free(&error);
    if (r < 0) {
        return std::nullopt;
    }
    std::string text = value;
    free(value);
    return text;
}

std::optional<std::vector<uint8_t>> BusClient::GetBytes(const std::string& path,
                                                        const std::string& interface,
                                                        const std::string& name) {
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    const int r = sd_bus_get_property(bus_, "org.bluez", path.c_str(), interface.c_str(),
                                      name.c_str(), &error, &reply, "ay");
    sd_bus_error_free(&error);
    MessageRef guard{reply};
    if (r < 0) {
        return std::nullopt;
    }
    const void* data = nullptr;
    size_t size = 0;
    if (sd_bus_message_read_array(reply, 'y', &data, &size) < 0) {
        return std::nullopt;
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    return std::vector<uint8_t>(bytes, bytes + size);
}

std::map<std::string, std::vector<std::string>> BusClient::ManagedObjects() {
    std::map<std::string, std::vector<std::string>> objects;
    sd_bus_message* reply = nullptr;
    const CallResult result = Call("/", "org.freedesktop.DBus.ObjectManager", "GetManagedObjects",
                                   nullptr, std::chrono::seconds(5), &reply);
    MessageRef guard{reply};
    if (!result.ok) {
        return objects;
    }
    sd_bus_message_enter_container(reply, 'a', "{oa{sa{sv}}}");
    while (sd_bus_message_enter_container(reply, 'e', "oa{sa{sv}}") > 0) {
        const char* path = nullptr;
        sd_bus_message_read(reply, "o", &path);
        auto& interfaces = objects[path];
        sd_bus_message_enter_container(reply, 'a', "{sa{sv}}");
        while (sd_bus_message_enter_container(reply, 'e', "sa{sv}") > 0) {
            const char* interface = nullptr;
            sd_bus_message_read(reply, "s", &interface);
            interfaces.push_back(interface);
            sd_bus_message_skip(reply, "a{sv}");
            sd_bus_message_exit_container(reply);
        }
        sd_bus_message_exit_container(reply);
        sd_bus_message_exit_container(reply);
    }
    return objects;
}

std::map<std::string, std::map<std::string, std::string>> BusClient::ManagedSignatures(
    const std::string& wanted) {
    std::map<std::string, std::map<std::string, std::string>> result;
    if (wanted.empty()) {
        return result;
    }
    sd_bus_message* reply = nullptr;
    const CallResult call = Call("/", "org.freedesktop.DBus.ObjectManager", "GetManagedObjects",
                                 nullptr, std::chrono::seconds(5), &reply);
    MessageRef guard{reply};
    if (!call.ok) {
        return result;
    }
    sd_bus_message_enter_container(reply, 'a', "{oa{sa{sv}}}");
    while (sd_bus_message_enter_container(reply, 'e', "oa{sa{sv}}") > 0) {
        const char* path = nullptr;
        sd_bus_message_read(reply, "o", &path);
        sd_bus_message_enter_container(reply, 'a', "{sa{sv}}");
        while (sd_bus_message_enter_container(reply, 'e', "sa{sv}") > 0) {
            const char* interface = nullptr;
            sd_bus_message_read(reply, "s", &interface);
            if (wanted == interface) {
                RecordedSignal properties;
                ReadChanges(reply, properties);
                result[path] = properties.signatures;
            } else {
                sd_bus_message_skip(reply, "a{sv}");
            }
            sd_bus_message_exit_container(reply);
        }
        sd_bus_message_exit_container(reply);
        sd_bus_message_exit_container(reply);
    }
    return result;
}

std::map<std::string, std::string> BusClient::ManagedStrings(const std::string& wanted,
                                                             const std::string& property,
                                                             const std::string& prefix) {
    std::map<std::string, std::string> result;
    sd_bus_message* reply = nullptr;
    const CallResult call = Call("/", "org.freedesktop.DBus.ObjectManager", "GetManagedObjects",
                                 nullptr, std::chrono::seconds(5), &reply);
    MessageRef guard{reply};
    if (!call.ok) {
        return result;
    }
    sd_bus_message_enter_container(reply, 'a', "{oa{sa{sv}}}");
    while (sd_bus_message_enter_container(reply, 'e', "oa{sa{sv}}") > 0) {
        const char* path = nullptr;
        sd_bus_message_read(reply, "o", &path);
        const bool below = std::string(path).rfind(prefix, 0) == 0;
        sd_bus_message_enter_container(reply, 'a', "{sa{sv}}");
        while (sd_bus_message_enter_container(reply, 'e', "sa{sv}") > 0) {
            const char* interface = nullptr;
            sd_bus_message_read(reply, "s", &interface);
            if (below && wanted == interface) {
                sd_bus_message_enter_container(reply, 'a', "{sv}");
                while (sd_bus_message_enter_container(reply, 'e', "sv") > 0) {
                    const char* name = nullptr;
                    const char* contents = nullptr;
                    sd_bus_message_read(reply, "s", &name);
                    sd_bus_message_peek_type(reply, nullptr, &contents);
                    if (property == name && contents && std::string(contents) == "s") {
                        const char* value = nullptr;
                        sd_bus_message_read(reply, "v", "s", &value);
                        result[path] = value;
                    } else {
                        sd_bus_message_skip(reply, "v");
                    }
                    sd_bus_message_exit_container(reply);
                }
                sd_bus_message_exit_container(reply);
            } else {
                sd_bus_message_skip(reply, "a{sv}");
            }
            sd_bus_message_exit_container(reply);
        }
        sd_bus_message_exit_container(reply);
        sd_bus_message_exit_container(reply);
    }
    return result;
}

std::map<std::string, std::string> BusClient::Characteristics(const std::string& devicePath) {
    std::map<std::string, std::string> byUuid;
    for (const auto& [path, uuid] :
         ManagedStrings("org.bluez.GattCharacteristic1", "UUID", devicePath + "/")) {
        byUuid[uuid] = path;
    }
    return byUuid;
}

bool BusClient::WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    // Messages that arrived during synchronous calls (such as those the
    // predicate makes) are queued: dispatch them before and after each check.
    auto drain = [this] {
        while (sd_bus_process(bus_, nullptr) > 0) {
        }
    };
    while (true) {
        drain();
        if (done()) {
            drain();
            return true;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            return false;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::microseconds>(deadline - now).count();
        sd_bus_wait(bus_, static_cast<uint64_t>(std::min<int64_t>(left, 50'000)));
    }
}

void BusClient::Pump(std::chrono::milliseconds duration) {
    WaitFor([] { return false; }, duration);
}

std::vector<RecordedSignal> BusClient::SignalsOf(const std::string& member,
                                                 const std::string& object) const {
    std::vector<RecordedSignal> result;
    for (const auto& signal : signals_) {
        if (signal.member == member && (object.empty() || signal.object == object)) {
            result.push_back(signal);
        }
    }
    return result;
}

}  // namespace QeltTest
