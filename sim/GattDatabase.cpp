#include "GattDatabase.h"

#include <algorithm>
#include <cstdio>

namespace QeltSim {

namespace {

constexpr const char* kService = "org.bluez.GattService1";
constexpr const char* kCharacteristic = "org.bluez.GattCharacteristic1";
constexpr const char* kDescriptor = "org.bluez.GattDescriptor1";
constexpr size_t kMaxAttributeValue = 512;

std::string HandlePath(const std::string& parent, const char* kind, uint16_t handle) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "%s%04x", kind, handle);
    return parent + "/" + suffix;
}

// BlueZ's Flags, in its order.
std::vector<std::string> Flags(uint8_t properties) {
    static const std::pair<uint8_t, const char*> kNames[] = {
        {kBroadcast, "broadcast"},
        {kRead, "read"},
        {kWriteWithoutResponse, "write-without-response"},
        {kWrite, "write"},
        {kNotify, "notify"},
        {kIndicate, "indicate"}};
    std::vector<std::string> flags;
    for (const auto& [bit, name] : kNames) {
        if (properties & bit) {
            flags.emplace_back(name);
        }
    }
    return flags;
}

// Reads the options dictionary of ReadValue and WriteValue as BlueZ does:
// "offset" must be a uint16 and "type" a string; other keys are ignored.
bool ParseOptions(sd_bus_message* call, uint16_t& offset, std::string& type) {
    PropertyDict options;
    if (ReadDict(call, options) < 0) {
        return false;
    }
    for (const auto& [key, value] : options) {
        std::string lower = key;
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (lower == "offset") {
            const auto* number = std::get_if<uint16_t>(&value);
            if (number == nullptr) {
                return false;
            }
            offset = *number;
        } else if (lower == "type") {
            const auto* text = std::get_if<std::string>(&value);
            if (text == nullptr) {
                return false;
            }
            type = *text;
            std::transform(type.begin(), type.end(), type.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        }
    }
    return true;
}

int ReplyBytes(sd_bus_message* call, const Bytes& bytes) {
    sd_bus_message* raw = nullptr;
    if (sd_bus_message_new_method_return(call, &raw) < 0) {
        return -ENOMEM;
    }
    MessagePtr reply(raw);
    if (sd_bus_message_append_array(raw, 'y', bytes.data(), bytes.size()) < 0) {
        return -ENOMEM;
    }
    sd_bus_send(nullptr, raw, nullptr);
    return 1;
}

}  // namespace

GattDatabase::GattDatabase(SimContext& context, const std::string& devicePath,
                           const GattProfile& profile, uint16_t mtu)
    : context_(context), devicePath_(devicePath), mtu_(mtu) {
    uint16_t handle = 1;
    for (const auto& service : profile) {
        ExportService(service, handle);
    }
    watchToken_ =
        context_.clients.Listen([this](const std::string& client) { ClientLeft(client); });
}

GattDatabase::~GattDatabase() {
    context_.clients.Unlisten(watchToken_);
    for (auto it = servicePaths_.rbegin(); it != servicePaths_.rend(); ++it) {
        context_.tree.RemoveSubtree(*it);
    }
}

void GattDatabase::ExportService(const GattServiceDef& service, uint16_t& handle) {
    ObjectTree& tree = context_.tree;
    const std::string path = HandlePath(devicePath_, "service", handle);
    tree.AddObject(path);
    tree.AddInterface(path, kService);
    tree.DeclareProperty(path, kService, "UUID", "s", service.uuid);
    tree.DeclareProperty(path, kService, "Device", "o", ObjectPath{devicePath_});
    tree.DeclareProperty(path, kService, "Primary", "b", service.primary);
    tree.DeclareProperty(path, kService, "Includes", "ao", std::vector<ObjectPath>{});
    servicePaths_.push_back(path);
    ++handle;
    for (const auto& characteristic : service.characteristics) {
        ExportCharacteristic(path, characteristic, handle);
    }
}

void GattDatabase::ExportCharacteristic(const std::string& servicePath,
                                        const GattCharacteristicDef& def, uint16_t& handle) {
    ObjectTree& tree = context_.tree;
    const size_t index = characteristics_.size();
    Characteristic characteristic;
    // The declaration's handle names the object; the value follows it.
    characteristic.path = HandlePath(servicePath, "char", handle);
    characteristic.servicePath = servicePath;
    characteristic.def = def;
    handle = static_cast<uint16_t>(handle + 2);
    const std::string& path = characteristic.path;
    tree.AddObject(path);
    tree.AddInterface(path, kCharacteristic);
    tree.DeclareProperty(path, kCharacteristic, "UUID", "s", def.uuid);
    tree.DeclareProperty(path, kCharacteristic, "Service", "o", ObjectPath{servicePath});
    tree.DeclareProperty(path, kCharacteristic, "Value", "ay", Bytes{});
    const bool notifies = (def.properties & (kNotify | kIndicate)) != 0;
    if (notifies) {
        tree.DeclareProperty(path, kCharacteristic, "Notifying", "b", false);
    }
    tree.DeclareProperty(path, kCharacteristic, "Flags", "as", Flags(def.properties));
    if (def.properties & kWriteWithoutResponse) {
        tree.DeclareProperty(path, kCharacteristic, "WriteAcquired", "b", false);
    }
    if (def.properties & kNotify) {
        tree.DeclareProperty(path, kCharacteristic, "NotifyAcquired", "b", false);
    }
    tree.DeclareProperty(path, kCharacteristic, "MTU", "q", mtu_);
    tree.AddMethod(
        path, kCharacteristic, "ReadValue",
        {"a{sv}", "ay", [this, index](sd_bus_message* m) { return ReadValue(index, m); }});
    tree.AddMethod(
        path, kCharacteristic, "WriteValue",
        {"aya{sv}", "", [this, index](sd_bus_message* m) { return WriteValue(index, m); }});
    tree.AddMethod(path, kCharacteristic, "StartNotify",
                   {"", "", [this, index](sd_bus_message* m) { return StartNotify(index, m); }});
    tree.AddMethod(path, kCharacteristic, "StopNotify",
                   {"", "", [this, index](sd_bus_message* m) { return StopNotify(index, m); }});
    for (const char* acquire : {"AcquireWrite", "AcquireNotify"}) {
        tree.AddMethod(path, kCharacteristic, acquire, {"a{sv}", "hq", [](sd_bus_message* m) {
                                                            return ReplyError(
                                                                m, "org.bluez.Error.NotSupported",
                                                                "Operation is not supported");
                                                        }});
    }
    if (notifies) {
        // The Client Characteristic Configuration descriptor.
        characteristic.cccdPath = HandlePath(path, "desc", handle);
        const std::string& desc = characteristic.cccdPath;
        tree.AddObject(desc);
        tree.AddInterface(desc, kDescriptor);
        tree.DeclareProperty(desc, kDescriptor, "UUID", "s", Uuid16(0x2902));
        tree.DeclareProperty(desc, kDescriptor, "Characteristic", "o", ObjectPath{path});
        tree.DeclareProperty(desc, kDescriptor, "Value", "ay", Bytes{});
        tree.AddMethod(
            desc, kDescriptor, "ReadValue",
            {"a{sv}", "ay", [this, index](sd_bus_message* m) { return ReadCccd(index, m); }});
        tree.AddMethod(desc, kDescriptor, "WriteValue", {"aya{sv}", "", [](sd_bus_message* m) {
                                                             // Notifications are switched through
                                                             // StartNotify.
                                                             return ReplyError(
                                                                 m, "org.bluez.Error.NotPermitted",
                                                                 "Write not permitted");
                                                         }});
        ++handle;
    }
    byUuid_.emplace(def.uuid, index);
    characteristics_.push_back(std::move(characteristic));
}

bool GattDatabase::SameLayout(const GattProfile& profile) const {
    size_t index = 0;
    size_t services = 0;
    for (const auto& service : profile) {
        ++services;
        for (const auto& def : service.characteristics) {
            if (index >= characteristics_.size() || characteristics_[index].def.uuid != def.uuid ||
                characteristics_[index].def.properties != def.properties) {
                return false;
            }
            ++index;
        }
    }
    return index == characteristics_.size() && services == servicePaths_.size();
}

void GattDatabase::Bind(const GattProfile& profile) {
    size_t index = 0;
    for (const auto& service : profile) {
        for (const auto& def : service.characteristics) {
            characteristics_[index++].def = def;
        }
    }
}

void GattDatabase::Announce() {
    for (const auto& servicePath : servicePaths_) {
        context_.tree.Announce(servicePath);
        for (const auto& characteristic : characteristics_) {
            if (characteristic.servicePath != servicePath) {
                continue;
            }
            context_.tree.Announce(characteristic.path);
            if (!characteristic.cccdPath.empty()) {
                context_.tree.Announce(characteristic.cccdPath);
            }
        }
    }
}

void GattDatabase::LinkUp() {
    linked_ = true;
    for (size_t i = 0; i < characteristics_.size(); ++i) {
        for (auto& session : characteristics_[i].sessions) {
            session.registered = true;
        }
        UpdateNotifying(i);
    }
}

void GattDatabase::LinkDown() {
    linked_ = false;
    for (auto& characteristic : characteristics_) {
        for (auto& session : characteristic.sessions) {
            session.registered = false;
        }
        // BlueZ keeps Notifying as it was; the peripheral's side is off.
        if (characteristic.enabled) {
            characteristic.enabled = false;
            if (characteristic.def.notifyChanged) {
                characteristic.def.notifyChanged(false);
            }
        }
    }
}

bool GattDatabase::Notify(const std::string& uuid, const uint8_t* data, size_t size) {
    const auto it = byUuid_.find(uuid);
    if (it == byUuid_.end() || !linked_ || !characteristics_[it->second].enabled) {
        return false;
    }
    size = std::min(size, kMaxAttributeValue);
    return context_.tree.EmitBytes(characteristics_[it->second].path, kCharacteristic, "Value",
                                   data, size) >= 0;
}

bool GattDatabase::Notifying(const std::string& uuid) const {
    const auto it = byUuid_.find(uuid);
    return it != byUuid_.end() && linked_ && characteristics_[it->second].enabled;
}

int GattDatabase::ReadValue(size_t index, sd_bus_message* call) {
    uint16_t offset = 0;
    std::string type;
    if (!ParseOptions(call, offset, type)) {
        return ReplyError(call, "org.bluez.Error.InvalidArguments",
                          "Invalid arguments in method call");
    }
    if (!linked_) {
        return ReplyError(call, "org.bluez.Error.Failed", "Not connected");
    }
    // Copy: the read may change the database.
    const GattCharacteristicDef def = characteristics_[index].def;
    if (!(def.properties & kRead) || !def.read) {
        return ReplyError(call, "org.bluez.Error.NotPermitted", "Read not permitted");
    }
    Bytes value = def.read();
    if (value.size() > kMaxAttributeValue) {
        value.resize(kMaxAttributeValue);
    }
    if (offset > value.size()) {
        return ReplyError(call, "org.bluez.Error.InvalidArguments", "Invalid offset");
    }
    const Bytes part(value.begin() + offset, value.end());
    // The read value is cached and signalled like a notification.
    context_.tree.EmitBytes(characteristics_[index].path, kCharacteristic, "Value", part.data(),
                            part.size());
    return ReplyBytes(call, part);
}

int GattDatabase::WriteValue(size_t index, sd_bus_message* call) {
    const void* data = nullptr;
    size_t size = 0;
    if (sd_bus_message_read_array(call, 'y', &data, &size) < 0) {
        return ReplyError(call, "org.bluez.Error.InvalidArguments",
                          "Invalid arguments in method call");
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    const Bytes value(bytes, bytes + size);
    uint16_t offset = 0;
    std::string type;
    if (!ParseOptions(call, offset, type)) {
        return ReplyError(call, "org.bluez.Error.InvalidArguments",
                          "Invalid arguments in method call");
    }
    if (!linked_) {
        return ReplyError(call, "org.bluez.Error.Failed", "Not connected");
    }
    const GattCharacteristicDef def = characteristics_[index].def;
    const bool withResponse =
        type == "reliable" || type == "request" || (type.empty() && (def.properties & kWrite));
    if (withResponse) {
        if (!(def.properties & kWrite)) {
            return ReplyError(call, "org.bluez.Error.NotPermitted", "Write not permitted");
        }
        if (static_cast<size_t>(offset) + value.size() > kMaxAttributeValue) {
            return ReplyError(call, "org.bluez.Error.InvalidArguments", "Invalid Length");
        }
        sd_bus_reply_method_return(call, "");
        if (def.write) {
            def.write(value);
        }
        return 1;
    }
    const bool command = (type == "command" && offset == 0) ||
                         (type.empty() && (def.properties & kWriteWithoutResponse));
    if (!command) {
        return ReplyError(call, "org.bluez.Error.NotSupported", "Operation is not supported");
    }
    // A write command must fit one ATT packet.
    if (value.size() > static_cast<size_t>(mtu_ - 3)) {
        return ReplyError(call, "org.bluez.Error.Failed", "Failed to initiate write");
    }
    sd_bus_reply_method_return(call, "");
    // A peripheral ignores commands on characteristics that do not take them.
    if ((def.properties & kWriteWithoutResponse) && def.write) {
        def.write(value);
    }
    return 1;
}

int GattDatabase::StartNotify(size_t index, sd_bus_message* call) {
    Characteristic& characteristic = characteristics_[index];
    if (!(characteristic.def.properties & (kNotify | kIndicate))) {
        return ReplyError(call, "org.bluez.Error.NotSupported", "Operation is not supported");
    }
    const std::string client = sd_bus_message_get_sender(call);
    for (const auto& session : characteristic.sessions) {
        if (session.client == client) {
            if (session.registered) {
                sd_bus_reply_method_return(call, "");
                return 1;
            }
            return ReplyError(call, "org.bluez.Error.InProgress", "In Progress");
        }
    }
    // While disconnected the session waits for the next connection.
    characteristic.sessions.push_back(Session{client, linked_});
    sd_bus_reply_method_return(call, "");
    UpdateNotifying(index);
    return 1;
}

int GattDatabase::StopNotify(size_t index, sd_bus_message* call) {
    auto& sessions = characteristics_[index].sessions;
    const std::string client = sd_bus_message_get_sender(call);
    const auto it = std::find_if(sessions.begin(), sessions.end(),
                                 [&client](const Session& s) { return s.client == client; });
    if (it == sessions.end()) {
        return ReplyError(call, "org.bluez.Error.Failed", "No notify session started");
    }
    sessions.erase(it);
    sd_bus_reply_method_return(call, "");
    UpdateNotifying(index);
    return 1;
}

int GattDatabase::ReadCccd(size_t index, sd_bus_message* call) {
    uint16_t offset = 0;
    std::string type;
    if (!ParseOptions(call, offset, type)) {
        return ReplyError(call, "org.bluez.Error.InvalidArguments",
                          "Invalid arguments in method call");
    }
    if (!linked_) {
        return ReplyError(call, "org.bluez.Error.Failed", "Not connected");
    }
    const Characteristic& characteristic = characteristics_[index];
    const uint8_t bit = (characteristic.def.properties & kNotify) ? 0x01 : 0x02;
    const Bytes value{characteristic.enabled ? bit : uint8_t{0}, 0x00};
    if (offset > value.size()) {
        return ReplyError(call, "org.bluez.Error.InvalidArguments", "Invalid offset");
    }
    const Bytes part(value.begin() + offset, value.end());
    context_.tree.Set(characteristic.cccdPath, kDescriptor, "Value", part);
    return ReplyBytes(call, part);
}

void GattDatabase::UpdateNotifying(size_t index) {
    Characteristic& characteristic = characteristics_[index];
    const bool any = !characteristic.sessions.empty();
    const bool registered =
        std::any_of(characteristic.sessions.begin(), characteristic.sessions.end(),
                    [](const Session& s) { return s.registered; });
    const bool hasNotifying = (characteristic.def.properties & (kNotify | kIndicate)) != 0;
    if (hasNotifying && (linked_ || !any)) {
        context_.tree.Set(characteristic.path, kCharacteristic, "Notifying", registered);
    }
    if (registered != characteristic.enabled) {
        characteristic.enabled = registered;
        // Copy: the model may change the database (a burst notifies).
        const auto changed = characteristic.def.notifyChanged;
        if (changed) {
            changed(registered);
        }
    }
}

void GattDatabase::ClientLeft(const std::string& client) {
    for (size_t i = 0; i < characteristics_.size(); ++i) {
        auto& sessions = characteristics_[i].sessions;
        const auto before = sessions.size();
        sessions.erase(std::remove_if(sessions.begin(), sessions.end(),
                                      [&client](const Session& s) { return s.client == client; }),
                       sessions.end());
        if (sessions.size() != before) {
            UpdateNotifying(i);
        }
    }
}

}  // namespace QeltSim
