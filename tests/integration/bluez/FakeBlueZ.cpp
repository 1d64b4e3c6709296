#include "FakeBlueZ.h"

#include <cerrno>
#include <cstring>
#include <future>
#include <stdexcept>

namespace QeltTest {

namespace {

void Check(int result, const char* what) {
    if (result < 0) {
        throw std::runtime_error(std::string("fake BlueZ: ") + what +
                                 " failed: " + std::strerror(-result));
    }
}

void WriteInterfaces(sd_bus_message* m,
                     const std::map<std::string, std::map<std::string, std::string>>& interfaces) {
    Check(sd_bus_message_open_container(m, 'a', "{sa{sv}}"), "open interfaces");
    for (const auto& [interface, properties] : interfaces) {
        Check(sd_bus_message_open_container(m, 'e', "sa{sv}"), "open interface");
        Check(sd_bus_message_append(m, "s", interface.c_str()), "interface name");
        Check(sd_bus_message_open_container(m, 'a', "{sv}"), "open properties");
        for (const auto& [name, value] : properties) {
            Check(sd_bus_message_append(m, "{sv}", name.c_str(), "s", value.c_str()), "property");
        }
        Check(sd_bus_message_close_container(m), "close properties");
        Check(sd_bus_message_close_container(m), "close interface");
    }
    Check(sd_bus_message_close_container(m), "close interfaces");
}

}  // namespace

void WriteObjects(sd_bus_message* reply, const std::vector<FakeBlueZ::Object>& objects) {
    Check(sd_bus_message_open_container(reply, 'a', "{oa{sa{sv}}}"), "open objects");
    for (const auto& object : objects) {
        Check(sd_bus_message_open_container(reply, 'e', "oa{sa{sv}}"), "open object");
        Check(sd_bus_message_append(reply, "o", object.path.c_str()), "object path");
        WriteInterfaces(reply, object.interfaces);
        Check(sd_bus_message_close_container(reply), "close object");
    }
    Check(sd_bus_message_close_container(reply), "close objects");
}

FakeBlueZ::FakeBlueZ() {
    SetManagedObjects(std::vector<Object>{});
    Check(sd_bus_open_system(&bus_), "connect");
    Check(sd_bus_request_name(bus_, "org.bluez", 0), "take org.bluez");
    Check(sd_bus_add_fallback(bus_, &slot_, "/", &FakeBlueZ::OnMethodCall, this), "serve /");
    thread_ = std::thread(&FakeBlueZ::Loop, this);
}

FakeBlueZ::~FakeBlueZ() {
    stop_ = true;
    thread_.join();
    sd_bus_slot_unref(slot_);
    sd_bus_flush_close_unref(bus_);
}

void FakeBlueZ::SetManagedObjects(Writer writer) {
    std::lock_guard lock(mutex_);
    managedObjects_ = std::move(writer);
}

void FakeBlueZ::SetManagedObjects(const std::vector<Object>& objects) {
    SetManagedObjects([objects](sd_bus_message* reply) { WriteObjects(reply, objects); });
}

void FakeBlueZ::SetPowered(bool powered) {
    std::lock_guard lock(mutex_);
    powered_ = powered;
}

void FakeBlueZ::FailMethod(const std::string& member, std::optional<std::string> message) {
    std::lock_guard lock(mutex_);
    failing_[member] = std::move(message);
}

void FakeBlueZ::SilenceMethod(const std::string& member) {
    std::lock_guard lock(mutex_);
    silent_.insert(member);
}

std::vector<std::string> FakeBlueZ::Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

void FakeBlueZ::RunOnBus(const std::function<void(sd_bus*)>& work) {
    std::promise<void> done;
    {
        std::lock_guard lock(mutex_);
        work_.push_back([&] {
            try {
                work(bus_);
                done.set_value();
            } catch (...) {
                done.set_exception(std::current_exception());
            }
        });
    }
    done.get_future().get();
}

void FakeBlueZ::EmitInterfacesAdded(const Object& object) {
    RunOnBus([&](sd_bus* bus) {
        sd_bus_message* raw = nullptr;
        Check(sd_bus_message_new_signal(bus, &raw, "/", "org.freedesktop.DBus.ObjectManager",
                                        "InterfacesAdded"),
              "new InterfacesAdded");
        Check(sd_bus_message_append(raw, "o", object.path.c_str()), "path");
        WriteInterfaces(raw, object.interfaces);
        const int sent = sd_bus_send(bus, raw, nullptr);
        sd_bus_message_unref(raw);
        Check(sent, "send InterfacesAdded");
    });
}

void FakeBlueZ::EmitDeviceChanged(const std::string& path, const Writer& changed) {
    RunOnBus([&](sd_bus* bus) {
        sd_bus_message* raw = nullptr;
        Check(sd_bus_message_new_signal(bus, &raw, path.c_str(), "org.freedesktop.DBus.Properties",
                                        "PropertiesChanged"),
              "new PropertiesChanged");
        Check(sd_bus_message_append(raw, "s", "org.bluez.Device1"), "interface");
        changed(raw);
        Check(sd_bus_message_append(raw, "as", 0), "invalidated");
        const int sent = sd_bus_send(bus, raw, nullptr);
        sd_bus_message_unref(raw);
        Check(sent, "send PropertiesChanged");
    });
}

int FakeBlueZ::OnMethodCall(sd_bus_message* message, void* self, sd_bus_error*) {
    try {
        return static_cast<FakeBlueZ*>(self)->Answer(message);
    } catch (const std::exception&) {
        return -EIO;  // sd-bus answers with an error
    }
}

int FakeBlueZ::Answer(sd_bus_message* message) {
    const std::string path = sd_bus_message_get_path(message);
    const std::string interface = sd_bus_message_get_interface(message);
    const std::string member = sd_bus_message_get_member(message);
    Writer managedObjects;
    bool powered = false;
    std::optional<std::optional<std::string>> failure;
    bool silent = false;
    {
        std::lock_guard lock(mutex_);
        calls_.push_back(path + " " + interface + "." + member);
        managedObjects = managedObjects_;
        powered = powered_;
        if (const auto found = failing_.find(member); found != failing_.end()) {
            failure = found->second;
        }
        silent = silent_.count(member) != 0;
    }
    if (silent) {
        return 1;
    }
    if (failure) {
        const sd_bus_error error{"org.bluez.Error.Failed", *failure ? (*failure)->c_str() : nullptr,
                                 0};
        return sd_bus_reply_method_error(message, &error);
    }
    sd_bus_message* reply = nullptr;
    Check(sd_bus_message_new_method_return(message, &reply), "new reply");
    if (member == "GetManagedObjects") {
        managedObjects(reply);
    } else if (interface == "org.freedesktop.DBus.Properties" && member == "Get") {
        const char* askedInterface = nullptr;
        const char* property = nullptr;
        sd_bus_message_read(message, "ss", &askedInterface, &property);
        if (std::strcmp(property, "Powered") != 0) {
            sd_bus_message_unref(reply);
            return sd_bus_reply_method_errorf(message, "org.freedesktop.DBus.Error.InvalidArgs",
                                              "No such property '%s'", property);
        }
        Check(sd_bus_message_append(reply, "v", "b", powered ? 1 : 0), "Powered");
    }
    const int sent = sd_bus_send(nullptr, reply, nullptr);
    sd_bus_message_unref(reply);
    return sent < 0 ? sent : 1;
}

void FakeBlueZ::Loop() {
    while (!stop_) {
        std::deque<std::function<void()>> work;
        {
            std::lock_guard lock(mutex_);
            work.swap(work_);
        }
        for (auto& item : work) {
            item();
        }
        const int processed = sd_bus_process(bus_, nullptr);
        if (processed < 0) {
            return;
        }
        if (processed == 0) {
            sd_bus_wait(bus_, 20'000);
        }
    }
}

}  // namespace QeltTest
