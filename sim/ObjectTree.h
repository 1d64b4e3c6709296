// The simulator's exported objects. Every object, its interfaces and their
// properties live here; one fallback handler on "/" answers all method calls,
// implements org.freedesktop.DBus.Properties, ObjectManager (on "/") and
// Introspectable from this model, and every signal leaves through it, so the
// types that BlueZ uses and the signals it sends are kept in one place.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "BusValue.h"
#include "Counters.h"
#include "FaultInjector.h"
#include "SdBus.h"

namespace QeltSim {

// Handles one method call. The handler answers the call itself, now or later
// (keeping a reference to the message), and returns 1; or returns a negative
// errno and the tree answers with a generic failure.
using MethodHandler = std::function<int(sd_bus_message* call)>;
// Accepts or rejects a new value of a writable property (already type
// checked). On rejection it fills `error` and returns a negative errno.
using PropertySetter = std::function<int(const BusValue& value, sd_bus_error* error)>;

struct MethodEntry {
    std::string inSignature;
    std::string outSignature;
    MethodHandler handler;
};

class ObjectTree {
public:
    ObjectTree(sd_bus* bus, Counters& counters, FaultInjector& faults);
    ObjectTree(const ObjectTree&) = delete;
    ObjectTree& operator=(const ObjectTree&) = delete;

    sd_bus* Bus() const { return bus_; }
    Counters& Stats() { return counters_; }

    // Objects. A managed object appears in GetManagedObjects and is announced
    // with InterfacesAdded; an unmanaged one (the control object) does not,
    // and its calls are neither counted nor subject to injected faults.
    void AddObject(const std::string& path, bool managed = true);
    bool HasObject(const std::string& path) const;
    // Removes the object; if it had been announced, emits InterfacesRemoved
    // with all its interfaces.
    void RemoveObject(const std::string& path);
    // Removes the object and every object below it, deepest first.
    void RemoveSubtree(const std::string& path);

    // Interfaces, properties and methods of an object.
    void AddInterface(const std::string& path, const std::string& interface);
    void DeclareProperty(const std::string& path, const std::string& interface,
                         const std::string& name, const std::string& signature,
                         std::optional<BusValue> value = std::nullopt,
                         PropertySetter setter = nullptr);
    void AddMethod(const std::string& path, const std::string& interface, const std::string& member,
                   MethodEntry entry);

    // Emits InterfacesAdded with all interfaces of the object (once).
    void Announce(const std::string& path);
    bool Announced(const std::string& path) const;

    // Property values. A change of an announced object's property emits
    // PropertiesChanged; an absent value (nullopt) goes into the
    // invalidated list, as for a property that stopped existing.
    const BusValue* Get(const std::string& path, const std::string& interface,
                        const std::string& name) const;
    void Set(const std::string& path, const std::string& interface, const std::string& name,
             std::optional<BusValue> value);
    // Several changes of one interface in a single PropertiesChanged.
    void SetMany(const std::string& path, const std::string& interface,
                 const std::vector<std::pair<std::string, std::optional<BusValue>>>& values);
    // Stores a new byte value and emits PropertiesChanged with it, built
    // directly: the path of sample notifications.
    int EmitBytes(const std::string& path, const std::string& interface, const std::string& name,
                  const uint8_t* data, size_t size);

    // Paths of the objects directly or indirectly below `path`.
    std::vector<std::string> Descendants(const std::string& path) const;

    // Sends a prepared signal and counts it.
    int SendSignal(sd_bus_message* signal, const char* member);

private:
    struct Property {
        std::string name;
        std::string signature;
        std::optional<BusValue> value;
        PropertySetter setter;
    };
    struct Interface {
        std::string name;
        std::vector<Property> properties;
        std::map<std::string, MethodEntry> methods;
    };
    struct Object {
        bool managed = true;
        bool announced = false;
        std::vector<Interface> interfaces;
    };

    static int OnMessage(sd_bus_message* message, void* userdata, sd_bus_error* error);
    int Dispatch(sd_bus_message* message);
    int HandleProperties(Object& object, const std::string& path, sd_bus_message* message,
                         const std::string& member);
    int HandleGetManagedObjects(sd_bus_message* message);
    int HandleIntrospect(const std::string& path, const Object* object, sd_bus_message* message);

    Object* FindObject(const std::string& path);
    const Object* FindObject(const std::string& path) const;
    static Interface* FindInterface(Object& object, const std::string& name);
    static const Interface* FindInterface(const Object& object, const std::string& name);
    static Property* FindProperty(Interface& interface, const std::string& name);
    Property& RequireProperty(const std::string& path, const std::string& interface,
                              const std::string& name);

    int AppendInterfaces(sd_bus_message* message, const Object& object);
    static int AppendProperties(sd_bus_message* message, const Interface& interface);
    int EmitPropertiesChanged(const std::string& path, const std::string& interface,
                              const std::vector<const Property*>& changed,
                              const std::vector<std::string>& invalidated);

    sd_bus* bus_;
    Counters& counters_;
    FaultInjector& faults_;
    SlotPtr slot_;
    std::map<std::string, Object> objects_;
};

// Answers a call with a D-Bus error; returns 1 so handlers can return it.
int ReplyError(sd_bus_message* call, const char* name, const std::string& message);

}  // namespace QeltSim
