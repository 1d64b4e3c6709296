#include "ObjectTree.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace QeltSim {

namespace {

constexpr const char* kPropertiesInterface = "org.freedesktop.DBus.Properties";
constexpr const char* kObjectManagerInterface = "org.freedesktop.DBus.ObjectManager";
constexpr const char* kIntrospectableInterface = "org.freedesktop.DBus.Introspectable";
constexpr const char* kInvalidArgs = "org.freedesktop.DBus.Error.InvalidArgs";

// Every object also carries these two, as BlueZ lists them.
constexpr const char* kStandardInterfaces[] = {kIntrospectableInterface, kPropertiesInterface};

bool IsBelow(const std::string& path, const std::string& parent) {
    if (parent == "/") {
        return path != "/";
    }
    return path.size() > parent.size() && path.compare(0, parent.size(), parent) == 0 &&
           path[parent.size()] == '/';
}

// Writes the XML of one argument list ("in" or "out") of an introspected
// method, splitting the signature into complete types.
void AppendArgs(std::string& xml, const std::string& signature, const char* direction) {
    size_t start = 0;
    while (start < signature.size()) {
        size_t end = start;
        int depth = 0;
        do {
            const char c = signature[end];
            if (c == '(' || c == '{') {
                ++depth;
            } else if (c == ')' || c == '}') {
                --depth;
            }
            ++end;
        } while (end < signature.size() && (depth > 0 || signature[end - 1] == 'a'));
        xml += "   <arg type=\"" + signature.substr(start, end - start) + "\" direction=\"" +
               direction + "\"/>\n";
        start = end;
    }
}

}  // namespace

int ReplyError(sd_bus_message* call, const char* name, const std::string& message) {
    sd_bus_reply_method_errorf(call, name, "%s", message.c_str());
    return 1;
}

ObjectTree::ObjectTree(sd_bus* bus, Counters& counters, FaultInjector& faults)
    : bus_(bus), counters_(counters), faults_(faults) {
    sd_bus_slot* slot = nullptr;
    if (sd_bus_add_fallback(bus_, &slot, "/", OnMessage, this) < 0) {
        throw std::runtime_error("could not register the object tree");
    }
    slot_.reset(slot);
    AddObject("/");
}

void ObjectTree::AddObject(const std::string& path, bool managed) {
    Object& object = objects_[path];
    object.managed = managed;
}

bool ObjectTree::HasObject(const std::string& path) const {
    return objects_.count(path) != 0;
}

void ObjectTree::RemoveObject(const std::string& path) {
    const auto it = objects_.find(path);
    if (it == objects_.end() || path == "/") {
        return;
    }
    if (it->second.announced && it->second.managed) {
        sd_bus_message* raw = nullptr;
        if (sd_bus_message_new_signal(bus_, &raw, "/", kObjectManagerInterface,
                                      "InterfacesRemoved") >= 0) {
            MessagePtr signal(raw);
            std::vector<std::string> names(std::begin(kStandardInterfaces),
                                           std::end(kStandardInterfaces));
            for (const auto& interface : it->second.interfaces) {
                names.push_back(interface.name);
            }
            int r = sd_bus_message_append_basic(raw, 'o', path.c_str());
            if (r >= 0) {
                r = AppendValue(raw, names);
            }
            if (r >= 0) {
                SendSignal(raw, "InterfacesRemoved");
            }
        }
    }
    objects_.erase(it);
}

void ObjectTree::RemoveSubtree(const std::string& path) {
    std::vector<std::string> below = Descendants(path);
    // Deepest first, as a parent outlives its children.
    for (auto it = below.rbegin(); it != below.rend(); ++it) {
        RemoveObject(*it);
    }
    RemoveObject(path);
}

std::vector<std::string> ObjectTree::Descendants(const std::string& path) const {
    std::vector<std::string> result;
    for (const auto& [candidate, object] : objects_) {
        if (IsBelow(candidate, path)) {
            result.push_back(candidate);
        }
    }
    return result;
}

void ObjectTree::AddInterface(const std::string& path, const std::string& interface) {
    Object* object = FindObject(path);
    if (object == nullptr) {
        throw std::logic_error("no object " + path);
    }
    if (FindInterface(*object, interface) == nullptr) {
        object->interfaces.push_back(Interface{interface, {}, {}});
    }
}

void ObjectTree::DeclareProperty(const std::string& path, const std::string& interface,
                                 const std::string& name, const std::string& signature,
                                 std::optional<BusValue> value, PropertySetter setter) {
    Object* object = FindObject(path);
    Interface* iface = object ? FindInterface(*object, interface) : nullptr;
    if (iface == nullptr) {
        throw std::logic_error("no interface " + interface + " on " + path);
    }
    if (value && signature != SignatureOf(*value)) {
        throw std::logic_error("property " + name + " declared " + signature + " but given " +
                               SignatureOf(*value));
    }
    if (Property* existing = FindProperty(*iface, name)) {
        *existing = Property{name, signature, std::move(value), std::move(setter)};
        return;
    }
    iface->properties.push_back(Property{name, signature, std::move(value), std::move(setter)});
}

void ObjectTree::AddMethod(const std::string& path, const std::string& interface,
                           const std::string& member, MethodEntry entry) {
    Object* object = FindObject(path);
    Interface* iface = object ? FindInterface(*object, interface) : nullptr;
    if (iface == nullptr) {
        throw std::logic_error("no interface " + interface + " on " + path);
    }
    iface->methods[member] = std::move(entry);
}

void ObjectTree::Announce(const std::string& path) {
    Object* object = FindObject(path);
    if (object == nullptr || object->announced) {
        return;
    }
    object->announced = true;
    if (!object->managed) {
        return;
    }
    sd_bus_message* raw = nullptr;
    if (sd_bus_message_new_signal(bus_, &raw, "/", kObjectManagerInterface, "InterfacesAdded") <
        0) {
        return;
    }
    MessagePtr signal(raw);
    int r = sd_bus_message_append_basic(raw, 'o', path.c_str());
    if (r >= 0) {
        r = AppendInterfaces(raw, *object);
    }
    if (r >= 0) {
        SendSignal(raw, "InterfacesAdded");
    }
}

bool ObjectTree::Announced(const std::string& path) const {
    const Object* object = FindObject(path);
    return object != nullptr && object->announced;
}

const BusValue* ObjectTree::Get(const std::string& path, const std::string& interface,
                                const std::string& name) const {
    const Object* object = FindObject(path);
    const Interface* iface = object ? FindInterface(*object, interface) : nullptr;
    if (iface == nullptr) {
        return nullptr;
    }
    for (const auto& property : iface->properties) {
        if (property.name == name) {
            return property.value ? &*property.value : nullptr;
        }
    }
    return nullptr;
}

void ObjectTree::Set(const std::string& path, const std::string& interface, const std::string& name,
                     std::optional<BusValue> value) {
    SetMany(path, interface, {{name, std::move(value)}});
}

void ObjectTree::SetMany(
    const std::string& path, const std::string& interface,
    const std::vector<std::pair<std::string, std::optional<BusValue>>>& values) {
    std::vector<const Property*> changed;
    std::vector<std::string> invalidated;
    for (const auto& [name, value] : values) {
        Property& property = RequireProperty(path, interface, name);
        if (value && property.signature != SignatureOf(*value)) {
            throw std::logic_error("property " + name + " is " + property.signature);
        }
        if (property.value == value) {
            continue;
        }
        property.value = value;
        if (value) {
            changed.push_back(&property);
        } else {
            invalidated.push_back(name);
        }
    }
    if ((changed.empty() && invalidated.empty()) || !Announced(path)) {
        return;
    }
    EmitPropertiesChanged(path, interface, changed, invalidated);
}

int ObjectTree::EmitBytes(const std::string& path, const std::string& interface,
                          const std::string& name, const uint8_t* data, size_t size) {
    Property& property = RequireProperty(path, interface, name);
    Bytes* cached = property.value ? std::get_if<Bytes>(&*property.value) : nullptr;
    if (cached != nullptr) {
        cached->assign(data, data + size);
    } else {
        property.value = Bytes(data, data + size);
    }
    if (!Announced(path)) {
        return 0;
    }
    sd_bus_message* raw = nullptr;
    int r = sd_bus_message_new_signal(bus_, &raw, path.c_str(), kPropertiesInterface,
                                      "PropertiesChanged");
    if (r < 0) {
        return r;
    }
    MessagePtr signal(raw);
    r = sd_bus_message_append_basic(raw, 's', interface.c_str());
    if (r >= 0) {
        r = sd_bus_message_open_container(raw, 'a', "{sv}");
    }
    if (r >= 0) {
        r = sd_bus_message_open_container(raw, 'e', "sv");
    }
    if (r >= 0) {
        r = sd_bus_message_append_basic(raw, 's', name.c_str());
    }
    if (r >= 0) {
        r = sd_bus_message_open_container(raw, 'v', "ay");
    }
    if (r >= 0) {
        r = sd_bus_message_append_array(raw, 'y', data, size);
    }
    for (int i = 0; i < 3 && r >= 0; ++i) {
        r = sd_bus_message_close_container(raw);
    }
    if (r >= 0) {
        r = sd_bus_message_append_strv(raw, nullptr);
    }
    if (r < 0) {
        return r;
    }
    return SendSignal(raw, "PropertiesChanged");
}

int ObjectTree::SendSignal(sd_bus_message* signal, const char* member) {
    const int r = sd_bus_send(bus_, signal, nullptr);
    if (r >= 0) {
        counters_.Add(std::string("signal:") + member);
        counters_.Add("signals");
    }
    return r;
}

ObjectTree::Object* ObjectTree::FindObject(const std::string& path) {
    const auto it = objects_.find(path);
    return it == objects_.end() ? nullptr : &it->second;
}

const ObjectTree::Object* ObjectTree::FindObject(const std::string& path) const {
    const auto it = objects_.find(path);
    return it == objects_.end() ? nullptr : &it->second;
}

ObjectTree::Interface* ObjectTree::FindInterface(Object& object, const std::string& name) {
    for (auto& interface : object.interfaces) {
        if (interface.name == name) {
            return &interface;
        }
    }
    return nullptr;
}

const ObjectTree::Interface* ObjectTree::FindInterface(const Object& object,
                                                       const std::string& name) {
    for (const auto& interface : object.interfaces) {
        if (interface.name == name) {
            return &interface;
        }
    }
    return nullptr;
}

ObjectTree::Property* ObjectTree::FindProperty(Interface& interface, const std::string& name) {
    for (auto& property : interface.properties) {
        if (property.name == name) {
            return &property;
        }
    }
    return nullptr;
}

ObjectTree::Property& ObjectTree::RequireProperty(const std::string& path,
                                                  const std::string& interface,
                                                  const std::string& name) {
    Object* object = FindObject(path);
    Interface* iface = object ? FindInterface(*object, interface) : nullptr;
    Property* property = iface ? FindProperty(*iface, name) : nullptr;
    if (property == nullptr) {
        throw std::logic_error("no property " + interface + "." + name + " on " + path);
    }
    return *property;
}

int ObjectTree::AppendProperties(sd_bus_message* message, const Interface& interface) {
    int r = sd_bus_message_open_container(message, 'a', "{sv}");
    for (const auto& property : interface.properties) {
        if (r < 0) {
            return r;
        }
        if (!property.value) {
            continue;
        }
        r = sd_bus_message_open_container(message, 'e', "sv");
        if (r >= 0) {
            r = sd_bus_message_append_basic(message, 's', property.name.c_str());
        }
        if (r >= 0) {
            r = AppendVariant(message, *property.value);
        }
        if (r >= 0) {
            r = sd_bus_message_close_container(message);
        }
    }
    return r < 0 ? r : sd_bus_message_close_container(message);
}

int ObjectTree::AppendInterfaces(sd_bus_message* message, const Object& object) {
    int r = sd_bus_message_open_container(message, 'a', "{sa{sv}}");
    for (const char* standard : kStandardInterfaces) {
        if (r >= 0) {
            r = sd_bus_message_append(message, "{sa{sv}}", standard, 0);
        }
    }
    for (const auto& interface : object.interfaces) {
        if (r < 0) {
            return r;
        }
        r = sd_bus_message_open_container(message, 'e', "sa{sv}");
        if (r >= 0) {
            r = sd_bus_message_append_basic(message, 's', interface.name.c_str());
        }
        if (r >= 0) {
            r = AppendProperties(message, interface);
        }
        if (r >= 0) {
            r = sd_bus_message_close_container(message);
        }
    }
    return r < 0 ? r : sd_bus_message_close_container(message);
}

int ObjectTree::EmitPropertiesChanged(const std::string& path, const std::string& interface,
                                      const std::vector<const Property*>& changed,
                                      const std::vector<std::string>& invalidated) {
    sd_bus_message* raw = nullptr;
    int r = sd_bus_message_new_signal(bus_, &raw, path.c_str(), kPropertiesInterface,
                                      "PropertiesChanged");
    if (r < 0) {
        return r;
    }
    MessagePtr signal(raw);
    r = sd_bus_message_append_basic(raw, 's', interface.c_str());
    if (r >= 0) {
        r = sd_bus_message_open_container(raw, 'a', "{sv}");
    }
    for (const Property* property : changed) {
        if (r < 0) {
            break;
        }
        r = sd_bus_message_open_container(raw, 'e', "sv");
        if (r >= 0) {
            r = sd_bus_message_append_basic(raw, 's', property->name.c_str());
        }
        if (r >= 0) {
            r = AppendVariant(raw, *property->value);
        }
        if (r >= 0) {
            r = sd_bus_message_close_container(raw);
        }
    }
    if (r >= 0) {
        r = sd_bus_message_close_container(raw);
    }
    if (r >= 0) {
        r = AppendValue(raw, invalidated);
    }
    if (r < 0) {
        return r;
    }
    return SendSignal(raw, "PropertiesChanged");
}

int ObjectTree::OnMessage(sd_bus_message* message, void* userdata, sd_bus_error* /*error*/) {
    auto* self = static_cast<ObjectTree*>(userdata);
    if (sd_bus_message_is_method_call(message, nullptr, nullptr) <= 0) {
        return 0;
    }
    try {
        return self->Dispatch(message);
    } catch (const std::exception& error) {
        // A fault of the simulator must not take it down: report and answer.
        std::fprintf(stderr, "qeltble-sim: internal error: %s\n", error.what());
        return ReplyError(message, "org.bluez.Error.Failed", "internal error");
    }
}

int ObjectTree::Dispatch(sd_bus_message* message) {
    const char* rawPath = sd_bus_message_get_path(message);
    const char* rawInterface = sd_bus_message_get_interface(message);
    const char* rawMember = sd_bus_message_get_member(message);
    if (rawPath == nullptr || rawMember == nullptr) {
        return 0;
    }
    const std::string path = rawPath;
    const std::string interface = rawInterface ? rawInterface : "";
    const std::string member = rawMember;

    Object* object = FindObject(path);
    if (object == nullptr) {
        if (interface == kIntrospectableInterface && member == "Introspect") {
            return HandleIntrospect(path, nullptr, message);
        }
        return ReplyError(message, "org.freedesktop.DBus.Error.UnknownObject",
                          "Unknown object '" + path + "'.");
    }
    if (object->managed) {
        counters_.Add("call:" + interface + "." + member);
        InjectedFault fault;
        if (faults_.Take(interface, member, path, fault)) {
            return ReplyError(message, fault.errorName.c_str(), fault.errorMessage);
        }
    }

    if (interface == kPropertiesInterface) {
        return HandleProperties(*object, path, message, member);
    }
    if (interface == kObjectManagerInterface && member == "GetManagedObjects" && path == "/") {
        return HandleGetManagedObjects(message);
    }
    if (interface == kIntrospectableInterface && member == "Introspect") {
        return HandleIntrospect(path, object, message);
    }
    for (auto& iface : object->interfaces) {
        if (!interface.empty() && iface.name != interface) {
            continue;
        }
        const auto method = iface.methods.find(member);
        if (method == iface.methods.end()) {
            continue;
        }
        const char* signature = sd_bus_message_get_signature(message, 1);
        if (method->second.inSignature != (signature ? signature : "")) {
            break;
        }
        // Copy: the handler may change the tree (and so this method table).
        MethodHandler handler = method->second.handler;
        const int r = handler(message);
        if (r < 0) {
            return ReplyError(message, "org.bluez.Error.Failed", std::strerror(-r));
        }
        return 1;
    }
    const char* signature = sd_bus_message_get_signature(message, 1);
    return ReplyError(message, "org.freedesktop.DBus.Error.UnknownMethod",
                      "Method \"" + member + "\" with signature \"" +
                          std::string(signature ? signature : "") + "\" on interface \"" +
                          interface + "\" doesn't exist");
}

int ObjectTree::HandleProperties(Object& object, const std::string& path, sd_bus_message* message,
                                 const std::string& member) {
    const char* interfaceName = nullptr;
    if (member == "GetAll" && sd_bus_message_has_signature(message, "s")) {
        sd_bus_message_read_basic(message, 's', &interfaceName);
        const Interface* iface = FindInterface(object, interfaceName);
        if (iface == nullptr) {
            bool standard = false;
            for (const char* name : kStandardInterfaces) {
                standard = standard || std::strcmp(name, interfaceName) == 0;
            }
            if (!standard) {
                return ReplyError(message, kInvalidArgs,
                                  std::string("No such interface '") + interfaceName + "'");
            }
            return sd_bus_reply_method_return(message, "a{sv}", 0) < 0 ? 0 : 1;
        }
        sd_bus_message* raw = nullptr;
        if (sd_bus_message_new_method_return(message, &raw) < 0) {
            return -ENOMEM;
        }
        MessagePtr reply(raw);
        if (AppendProperties(raw, *iface) < 0) {
            return -ENOMEM;
        }
        sd_bus_send(bus_, raw, nullptr);
        return 1;
    }
    const char* propertyName = nullptr;
    if (member == "Get" && sd_bus_message_has_signature(message, "ss")) {
        sd_bus_message_read(message, "ss", &interfaceName, &propertyName);
        Interface* iface = FindInterface(object, interfaceName);
        if (iface == nullptr) {
            return ReplyError(message, kInvalidArgs,
                              std::string("No such interface '") + interfaceName + "'");
        }
        Property* property = FindProperty(*iface, propertyName);
        if (property == nullptr || !property->value) {
            return ReplyError(message, kInvalidArgs,
                              std::string("No such property '") + propertyName + "'");
        }
        sd_bus_message* raw = nullptr;
        if (sd_bus_message_new_method_return(message, &raw) < 0) {
            return -ENOMEM;
        }
        MessagePtr reply(raw);
        if (AppendVariant(raw, *property->value) < 0) {
            return -ENOMEM;
        }
        sd_bus_send(bus_, raw, nullptr);
        return 1;
    }
    if (member == "Set" && sd_bus_message_has_signature(message, "ssv")) {
        sd_bus_message_read(message, "ss", &interfaceName, &propertyName);
        Interface* iface = FindInterface(object, interfaceName);
        if (iface == nullptr) {
            return ReplyError(message, kInvalidArgs,
                              std::string("No such interface '") + interfaceName + "'");
        }
        Property* property = FindProperty(*iface, propertyName);
        const std::string name = propertyName;
        if (property == nullptr) {
            return ReplyError(message, "org.freedesktop.DBus.Error.UnknownProperty",
                              "No such property '" + name + "'");
        }
        if (!property->setter) {
            return ReplyError(message, "org.freedesktop.DBus.Error.PropertyReadOnly",
                              "Property '" + name + "' is not writable");
        }
        const char* contents = nullptr;
        sd_bus_message_peek_type(message, nullptr, &contents);
        BusValue value;
        if (contents == nullptr || property->signature != contents ||
            ReadVariant(message, value) < 0) {
            return ReplyError(message, "org.freedesktop.DBus.Error.InvalidSignature",
                              "Invalid signature for '" + name + "'");
        }
        const std::string interfaceCopy = interfaceName;
        ScopedBusError error;
        // Copy: the setter may change the tree.
        PropertySetter setter = property->setter;
        if (setter(value, error.Get()) < 0) {
            sd_bus_reply_method_error(message, error.Get());
            return 1;
        }
        sd_bus_reply_method_return(message, "");
        return 1;
    }
    return ReplyError(message, "org.freedesktop.DBus.Error.UnknownMethod",
                      "Method \"" + member + "\" on interface \"" + kPropertiesInterface +
                          "\" doesn't exist at " + path);
}

int ObjectTree::HandleGetManagedObjects(sd_bus_message* message) {
    sd_bus_message* raw = nullptr;
    if (sd_bus_message_new_method_return(message, &raw) < 0) {
        return -ENOMEM;
    }
    MessagePtr reply(raw);
    int r = sd_bus_message_open_container(raw, 'a', "{oa{sa{sv}}}");
    for (const auto& [path, object] : objects_) {
        if (r < 0) {
            break;
        }
        if (path == "/" || !object.managed || !object.announced) {
            continue;
        }
        r = sd_bus_message_open_container(raw, 'e', "oa{sa{sv}}");
        if (r >= 0) {
            r = sd_bus_message_append_basic(raw, 'o', path.c_str());
        }
        if (r >= 0) {
            r = AppendInterfaces(raw, object);
        }
        if (r >= 0) {
            r = sd_bus_message_close_container(raw);
        }
    }
    if (r >= 0) {
        r = sd_bus_message_close_container(raw);
    }
    if (r < 0) {
        return r;
    }
    sd_bus_send(bus_, raw, nullptr);
    return 1;
}

int ObjectTree::HandleIntrospect(const std::string& path, const Object* object,
                                 sd_bus_message* message) {
    std::string xml =
        "<!DOCTYPE node PUBLIC \"-//freedesktop//DTD D-BUS Object Introspection 1.0//EN\"\n"
        "\"http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd\">\n<node>\n"
        " <interface name=\"org.freedesktop.DBus.Introspectable\">\n"
        "  <method name=\"Introspect\"><arg name=\"xml\" type=\"s\" direction=\"out\"/>"
        "</method>\n </interface>\n"
        " <interface name=\"org.freedesktop.DBus.Properties\">\n"
        "  <method name=\"Get\"><arg type=\"s\" direction=\"in\"/><arg type=\"s\" "
        "direction=\"in\"/><arg type=\"v\" direction=\"out\"/></method>\n"
        "  <method name=\"Set\"><arg type=\"s\" direction=\"in\"/><arg type=\"s\" "
        "direction=\"in\"/><arg type=\"v\" direction=\"in\"/></method>\n"
        "  <method name=\"GetAll\"><arg type=\"s\" direction=\"in\"/><arg type=\"a{sv}\" "
        "direction=\"out\"/></method>\n"
        "  <signal name=\"PropertiesChanged\"><arg type=\"s\"/><arg type=\"a{sv}\"/>"
        "<arg type=\"as\"/></signal>\n </interface>\n";
    if (object != nullptr) {
        for (const auto& interface : object->interfaces) {
            xml += " <interface name=\"" + interface.name + "\">\n";
            for (const auto& [member, entry] : interface.methods) {
                xml += "  <method name=\"" + member + "\">\n";
                AppendArgs(xml, entry.inSignature, "in");
                AppendArgs(xml, entry.outSignature, "out");
                xml += "  </method>\n";
            }
            for (const auto& property : interface.properties) {
                xml += "  <property name=\"" + property.name + "\" type=\"" + property.signature +
                       "\" access=\"" + (property.setter ? "readwrite" : "read") + "\"/>\n";
            }
            xml += " </interface>\n";
        }
    }
    // Direct children, including intermediate nodes such as "/org".
    std::map<std::string, bool> children;
    const std::string prefix = path == "/" ? "/" : path + "/";
    for (const auto& [candidate, child] : objects_) {
        if (candidate.size() > prefix.size() && candidate.compare(0, prefix.size(), prefix) == 0) {
            const std::string rest = candidate.substr(prefix.size());
            children[rest.substr(0, rest.find('/'))] = true;
        }
    }
    if (object == nullptr && children.empty()) {
        return ReplyError(message, "org.freedesktop.DBus.Error.UnknownObject",
                          "Unknown object '" + path + "'.");
    }
    for (const auto& [name, unused] : children) {
        xml += " <node name=\"" + name + "\"/>\n";
    }
    xml += "</node>\n";
    sd_bus_reply_method_return(message, "s", xml.c_str());
    return 1;
}

}  // namespace QeltSim
