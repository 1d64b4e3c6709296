#include "ControlInterface.h"

#include <cmath>
#include <cstdio>

#include "Amplifier.h"
#include "PeerCatalog.h"
#include "PeerSettings.h"
#include "Simulator.h"

namespace QeltSim {

namespace {

constexpr const char* kInvalidArgs = "org.qeltble.Simulator.Error.InvalidArguments";
constexpr const char* kNotFound = "org.qeltble.Simulator.Error.NotFound";
constexpr const char* kExists = "org.qeltble.Simulator.Error.AlreadyExists";

// A dictionary value as the settings' text form.
bool ToSettingText(const BusValue& value, std::string& text) {
    if (const auto* s = std::get_if<std::string>(&value)) {
        text = *s;
        return true;
    }
    if (const auto* b = std::get_if<bool>(&value)) {
        text = *b ? "yes" : "no";
        return true;
    }
    if (const auto* d = std::get_if<double>(&value)) {
        if (!std::isfinite(*d)) {
            return false;
        }
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%.9g", *d);
        text = buffer;
        return true;
    }
    int64_t n = 0;
    if (AsSigned(value, n)) {
        text = std::to_string(n);
        return true;
    }
    uint64_t u = 0;
    if (AsUnsigned(value, u)) {
        text = std::to_string(u);
        return true;
    }
    auto join = [&text](const auto& items, auto format) {
        text.clear();
        for (const auto& item : items) {
            if (!text.empty()) {
                text += ",";
            }
            text += format(item);
        }
        return true;
    };
    if (const auto* list = std::get_if<std::vector<std::string>>(&value)) {
        return join(*list, [](const std::string& s) { return s; });
    }
    if (const auto* bytes = std::get_if<Bytes>(&value)) {
        return join(*bytes, [](uint8_t b) { return std::to_string(b); });
    }
    if (const auto* numbers = std::get_if<std::vector<double>>(&value)) {
        return join(*numbers, [](double d) {
            char buffer[64];
            std::snprintf(buffer, sizeof buffer, "%.9g", d);
            return std::string(buffer);
        });
    }
    return false;
}

}  // namespace

ControlInterface::ControlInterface(Simulator& simulator) : simulator_(simulator) {
    ObjectTree& tree = simulator_.Context().tree;
    tree.AddObject(kPath, false);
    tree.AddInterface(kPath, kInterface);
    Add("AddAmplifier", "sa{sv}", "o", &ControlInterface::AddAmplifier);
    Add("ConfigureAmplifier", "sa{sv}", "", &ControlInterface::ConfigureAmplifier);
    Add("RemoveAmplifier", "s", "", &ControlInterface::RemoveAmplifier);
    Add("SetAmplifierPower", "sb", "", &ControlInterface::SetAmplifierPower);
    Add("SetAdapterPowered", "b", "", &ControlInterface::SetAdapterPowered);
    Add("AddAdapter", "b", "", &ControlInterface::AddAdapter);
    Add("RemoveAdapter", "", "", &ControlInterface::RemoveAdapter);
    Add("FailNextCall", "ssss", "", &ControlInterface::FailNextCall);
    Add("ClearFailures", "", "", &ControlInterface::ClearFailures);
    Add("GetCallCount", "s", "t", &ControlInterface::GetCallCount);
    Add("GetSignalCount", "s", "t", &ControlInterface::GetSignalCount);
    Add("GetCounters", "", "a{st}", &ControlInterface::GetCounters);
    Add("ResetCounters", "", "", &ControlInterface::ResetCounters);
    Add("ListAmplifiers", "", "a(so)", &ControlInterface::ListAmplifiers);
    Add("PowerCycle", "su", "", &ControlInterface::PowerCycle);
    Add("DropNotifications", "su", "", &ControlInterface::DropNotifications);
    Add("RepeatCounter", "s", "", &ControlInterface::RepeatCounter);
    Add("StepBackCounter", "su", "", &ControlInterface::StepBackCounter);
    Add("SendWrongLengthPayload", "s", "", &ControlInterface::SendWrongLengthPayload);
    Add("Flood", "stu", "", &ControlInterface::Flood);
    tree.Announce(kPath);
}

void ControlInterface::Add(const char* member, const char* in, const char* out,
                           int (ControlInterface::*handler)(sd_bus_message*)) {
    simulator_.Context().tree.AddMethod(
        kPath, kInterface, member,
        {in, out, [this, handler](sd_bus_message* m) { return (this->*handler)(m); }});
}

bool ControlInterface::ApplyConfig(sd_bus_message* call, PeerConfig& config) {
    PropertyDict dict;
    if (ReadDict(call, dict) < 0) {
        ReplyError(call, kInvalidArgs,
                   "configuration values must be strings, booleans, "
                   "numbers or arrays of them");
        return false;
    }
    PeerConfig candidate = config;
    // The generation first: it resets the model the other settings refine.
    const auto generation = dict.find("generation");
    std::vector<std::pair<std::string, BusValue>> ordered;
    if (generation != dict.end()) {
        ordered.emplace_back(*generation);
    }
    for (const auto& entry : dict) {
        if (entry.first != "generation") {
            ordered.emplace_back(entry);
        }
    }
    for (const auto& [key, value] : ordered) {
        std::string text;
        std::string error;
        if (!ToSettingText(value, text)) {
            ReplyError(call, kInvalidArgs, "unsupported value type for '" + key + "'");
            return false;
        }
        if (!ApplyPeerSetting(candidate, key, text, error)) {
            ReplyError(call, kInvalidArgs, error);
            return false;
        }
    }
    std::string error;
    if (candidate.kind == PeerKind::Amplifier && !ValidateAmplifier(candidate, error)) {
        ReplyError(call, kInvalidArgs, error);
        return false;
    }
    config = std::move(candidate);
    return true;
}

int ControlInterface::AddAmplifier(sd_bus_message* call) {
    const char* serial = nullptr;
    sd_bus_message_read_basic(call, 's', &serial);
    if (serial[0] == '\0') {
        return ReplyError(call, kInvalidArgs, "an amplifier needs a serial number");
    }
    if (simulator_.FindPeer(serial) != nullptr) {
        return ReplyError(call, kExists, std::string("amplifier ") + serial + " exists");
    }
    PeerConfig config = MakeAmplifier(serial, Generation::Legacy);
    if (!ApplyConfig(call, config)) {
        return 1;
    }
    if (config.Key() != serial && simulator_.FindPeer(config.Key()) != nullptr) {
        return ReplyError(call, kExists, "amplifier " + config.Key() + " exists");
    }
    const auto peer = simulator_.AddPeer(config);
    sd_bus_reply_method_return(call, "o", simulator_.DevicePathOf(*peer).c_str());
    return 1;
}

int ControlInterface::ConfigureAmplifier(sd_bus_message* call) {
    const char* serial = nullptr;
    sd_bus_message_read_basic(call, 's', &serial);
    Peer* peer = simulator_.FindPeer(serial);
    if (peer == nullptr) {
        return ReplyError(call, kNotFound, std::string("no amplifier ") + serial);
    }
    PeerConfig config = peer->Config();
    const std::string address = config.address;
    if (!ApplyConfig(call, config)) {
        return 1;
    }
    if (config.address != address || config.Key() != peer->Key()) {
        return ReplyError(call, kInvalidArgs, "the name and address of an amplifier are fixed");
    }
    peer->Config() = config;
    peer->ConfigChanged();
    sd_bus_reply_method_return(call, "");
    return 1;
}

int ControlInterface::RemoveAmplifier(sd_bus_message* call) {
    const char* serial = nullptr;
    sd_bus_message_read_basic(call, 's', &serial);
    if (!simulator_.RemovePeer(serial)) {
        return ReplyError(call, kNotFound, std::string("no amplifier ") + serial);
    }
    sd_bus_reply_method_return(call, "");
    return 1;
}

int ControlInterface::SetAmplifierPower(sd_bus_message* call) {
    const char* serial = nullptr;
    int on = 0;
    sd_bus_message_read(call, "sb", &serial, &on);
    Peer* peer = simulator_.FindPeer(serial);
    if (peer == nullptr) {
        return ReplyError(call, kNotFound, std::string("no amplifier ") + serial);
    }
    simulator_.SetPeerPower(*peer, on != 0);
    sd_bus_reply_method_return(call, "");
    return 1;
}

int ControlInterface::SetAdapterPowered(sd_bus_message* call) {
    int on = 0;
    sd_bus_message_read_basic(call, 'b', &on);
    Adapter* adapter = simulator_.GetAdapter();
    if (adapter == nullptr) {
        return ReplyError(call, kNotFound, "there is no adapter");
    }
    adapter->SetPowered(on != 0);
    sd_bus_reply_method_return(call, "");
    return 1;
}

int ControlInterface::AddAdapter(sd_bus_message* call) {
    int powered = 0;
    sd_bus_message_read_basic(call, 'b', &powered);
    if (!simulator_.AddAdapter(powered != 0)) {
        return ReplyError(call, kExists, "the adapter exists");
    }
    sd_bus_reply_method_return(call, "");
    return 1;
}

int ControlInterface::RemoveAdapter(sd_bus_message* call) {
    if (!simulator_.RemoveAdapter()) {
        return ReplyError(call, kNotFound, "there is no adapter");
    }
    sd_bus_reply_method_return(call, "");
    return 1;
}

int ControlInterface::FailNextCall(sd_bus_message* call) {
    const char* method = nullptr;
    const char* object = nullptr;
    const char* errorName = nullptr;
    const char* message = nullptr;
    sd_bus_message_read(call, "ssss", &method, &object, &errorName, &message);
    if (method[0] == '\0' || !sd_bus_interface_name_is_valid(errorName) ||
        (object[0] != '\0' && !sd_bus_object_path_is_valid(object))) {
        return ReplyError(call, kInvalidArgs,
                          "FailNextCall needs a method, an object path or \"\", and a valid "
                          "error name");
    }
    simulator_.Faults().Arm(InjectedFault{method, object, errorName, message});
    sd_bus_reply_method_return(call, "");
    return 1;
}

int ControlInterface::ClearFailures(sd_bus_message* call) {
    simulator_.Faults().Clear();
    sd_bus_reply_method_return(call, "");
    return 1;
}

int ControlInterface::GetCallCount(sd_bus_message* call) {
    const char* method = nullptr;
    sd_bus_message_read_basic(call, 's', &method);
    const std::string wanted = method;
    uint64_t count = 0;
    for (const auto& [key, value] : simulator_.Stats().All()) {
        if (key.rfind("call:", 0) != 0) {
            continue;
        }
        const std::string name = key.substr(5);
        const bool matches = name == wanted || (name.size() > wanted.size() &&
                                                name.compare(name.size() - wanted.size(),
                                                             wanted.size(), wanted) == 0 &&
                                                name[name.size() - wanted.size() - 1] == '.');
        if (matches) {
            count += value;
        }
    }
    sd_bus_reply_method_return(call, "t", count);
    return 1;
}

int ControlInterface::GetSignalCount(sd_bus_message* call) {
    const char* member = nullptr;
    sd_bus_message_read_basic(call, 's', &member);
    const Counters& stats = simulator_.Stats();
    const uint64_t count =
        member[0] == '\0' ? stats.Get("signals") : stats.Get(std::string("signal:") + member);
    sd_bus_reply_method_return(call, "t", count);
    return 1;
}

int ControlInterface::GetCounters(sd_bus_message* call) {
    sd_bus_message* raw = nullptr;
    if (sd_bus_message_new_method_return(call, &raw) < 0) {
        return -ENOMEM;
    }
    MessagePtr reply(raw);
    int r = sd_bus_message_open_container(raw, 'a', "{st}");
    for (const auto& [key, value] : simulator_.Stats().All()) {
        if (r >= 0) {
            r = sd_bus_message_append(raw, "{st}", key.c_str(), value);
        }
    }
    if (r >= 0) {
        r = sd_bus_message_close_container(raw);
    }
    if (r < 0) {
        return r;
    }
    sd_bus_send(nullptr, raw, nullptr);
    return 1;
}

int ControlInterface::ResetCounters(sd_bus_message* call) {
    simulator_.Stats().Reset();
    sd_bus_reply_method_return(call, "");
    return 1;
}

int ControlInterface::ListAmplifiers(sd_bus_message* call) {
    sd_bus_message* raw = nullptr;
    if (sd_bus_message_new_method_return(call, &raw) < 0) {
        return -ENOMEM;
    }
    MessagePtr reply(raw);
    (void)raw;
    int r = sd_bus_message_open_container(raw, 'a', "(so)");
    for (const auto& [key, path] : simulator_.AmplifierPaths()) {
        if (r >= 0) {
            r = sd_bus_message_append(raw, "(so)", key.c_str(), path.c_str());
        }
    }
    if (r >= 0) {
        r = sd_bus_message_close_container(raw);
    }
    if (r < 0) {
        return r;
    }
    sd_bus_send(nullptr, raw, nullptr);
    return 1;
}

Amplifier* ControlInterface::FindAmplifier(sd_bus_message* call) {
    const char* serial = nullptr;
    sd_bus_message_read_basic(call, 's', &serial);
    auto* amplifier = dynamic_cast<Amplifier*>(simulator_.FindPeer(serial));
    if (amplifier == nullptr) {
        ReplyError(call, kNotFound, std::string("no amplifier ") + serial);
    }
    return amplifier;
}

int ControlInterface::PowerCycle(sd_bus_message* call) {
    Amplifier* amplifier = FindAmplifier(call);
    if (amplifier == nullptr) {
        return 1;
    }
    uint32_t pauseMs = 0;
    sd_bus_message_read_basic(call, 'u', &pauseMs);
    simulator_.PowerCycle(*amplifier, static_cast<uint64_t>(pauseMs) * 1000);
    sd_bus_reply_method_return(call, "");
    return 1;
}

int ControlInterface::DropNotifications(sd_bus_message* call) {
    Amplifier* amplifier = FindAmplifier(call);
    if (amplifier == nullptr) {
        return 1;
    }
    uint32_t count = 0;
    sd_bus_message_read_basic(call, 'u', &count);
    amplifier->Stream().DropNext(count);
    sd_bus_reply_method_return(call, "");
    return 1;
}

int ControlInterface::RepeatCounter(sd_bus_message* call) {
    Amplifier* amplifier = FindAmplifier(call);
    if (amplifier == nullptr) {
        return 1;
    }
    amplifier->Stream().RepeatCounter();
    sd_bus_reply_method_return(call, "");
    return 1;
}

int ControlInterface::StepBackCounter(sd_bus_message* call) {
    Amplifier* amplifier = FindAmplifier(call);
    if (amplifier == nullptr) {
        return 1;
    }
    uint32_t steps = 0;
    sd_bus_message_read_basic(call, 'u', &steps);
    if (steps == 0) {
        return ReplyError(call, kInvalidArgs, "StepBackCounter needs at least one step");
    }
    amplifier->Stream().StepBackCounter(steps);
    sd_bus_reply_method_return(call, "");
    return 1;
}

int ControlInterface::SendWrongLengthPayload(sd_bus_message* call) {
    Amplifier* amplifier = FindAmplifier(call);
    if (amplifier == nullptr) {
        return 1;
    }
    amplifier->Stream().SendWrongLength();
    sd_bus_reply_method_return(call, "");
    return 1;
}

int ControlInterface::Flood(sd_bus_message* call) {
    Amplifier* amplifier = FindAmplifier(call);
    if (amplifier == nullptr) {
        return 1;
    }
    uint64_t count = 0;
    uint32_t durationMs = 0;
    sd_bus_message_read(call, "tu", &count, &durationMs);
    if (count == 0 && durationMs == 0) {
        return ReplyError(call, kInvalidArgs, "Flood needs a count or a duration");
    }
    if (!amplifier->Stream().Running()) {
        return ReplyError(call, "org.qeltble.Simulator.Error.NotStreaming",
                          "no client has the sample notifications enabled");
    }
    amplifier->Stream().Flood(count, static_cast<uint64_t>(durationMs) * 1000);
    sd_bus_reply_method_return(call, "");
    return 1;
}

}  // namespace QeltSim
