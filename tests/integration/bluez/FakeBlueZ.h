// A minimal stand-in for BlueZ, owned by a test: it takes the name org.bluez
// on the bus that DBUS_SYSTEM_BUS_ADDRESS names and answers from a thread of
// its own with whatever the test configures, including replies and errors a
// real daemon would never send. It answers:
//   GetManagedObjects on "/"         the configured reply body
//   Properties.Get Adapter1 Powered  the configured power state
//   a method told to fail            org.bluez.Error.Failed, with or without text
//   a method told to stay silent     no reply at all
//   any other method                 an empty reply
// Every method call is recorded.
#pragma once

#include <systemd/sd-bus.h>

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace QeltTest {

class FakeBlueZ {
public:
    using Writer = std::function<void(sd_bus_message* reply)>;
    // Path, then interface to its string properties.
    struct Object {
        std::string path;
        std::map<std::string, std::map<std::string, std::string>> interfaces;
    };

    FakeBlueZ();
    FakeBlueZ(const FakeBlueZ&) = delete;
    FakeBlueZ& operator=(const FakeBlueZ&) = delete;
    ~FakeBlueZ();

    // The body of every following GetManagedObjects reply.
    void SetManagedObjects(Writer writer);
    // A well-formed reply listing `objects` in this order.
    void SetManagedObjects(const std::vector<Object>& objects);
    void SetPowered(bool powered);
    // Answers every later call of `member` with org.bluez.Error.Failed and
    // `message` as its text (none when empty).
    void FailMethod(const std::string& member, std::optional<std::string> message);
    // Never answers `member`.
    void SilenceMethod(const std::string& member);

    // Runs `work` on the fake's thread with its bus and waits for it.
    void RunOnBus(const std::function<void(sd_bus*)>& work);
    // Emits InterfacesAdded for `object`.
    void EmitInterfacesAdded(const Object& object);
    // Emits PropertiesChanged of org.bluez.Device1 at `path` with `changed`.
    void EmitDeviceChanged(const std::string& path, const Writer& changed);

    // "<path> <interface>.<member>" of every method answered, in order.
    std::vector<std::string> Calls() const;

private:
    static int OnMethodCall(sd_bus_message* message, void* self, sd_bus_error* error);
    int Answer(sd_bus_message* message);
    void Loop();

    sd_bus* bus_ = nullptr;
    sd_bus_slot* slot_ = nullptr;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    Writer managedObjects_;
    bool powered_ = true;
    std::map<std::string, std::optional<std::string>> failing_;
    std::set<std::string> silent_;
    std::vector<std::string> calls_;
    std::deque<std::function<void()>> work_;
    std::thread thread_;
};

// Appends `objects` as a GetManagedObjects reply body (a{oa{sa{sv}}}).
void WriteObjects(sd_bus_message* reply, const std::vector<FakeBlueZ::Object>& objects);

}  // namespace QeltTest
