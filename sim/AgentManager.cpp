#include "AgentManager.h"

#include <set>

namespace QeltSim {

namespace {

constexpr const char* kPath = "/org/bluez";
constexpr const char* kInterface = "org.bluez.AgentManager1";

}  // namespace

AgentManager::AgentManager(SimContext& context) : context_(context) {
    ObjectTree& tree = context_.tree;
    tree.AddObject(kPath);
    tree.AddInterface(kPath, kInterface);
    tree.AddMethod(kPath, kInterface, "RegisterAgent",
                   {"os", "", [this](sd_bus_message* m) { return RegisterAgent(m); }});
    tree.AddMethod(kPath, kInterface, "UnregisterAgent",
                   {"o", "", [this](sd_bus_message* m) { return UnregisterAgent(m); }});
    tree.AddMethod(kPath, kInterface, "RequestDefaultAgent",
                   {"o", "", [this](sd_bus_message* m) { return RequestDefaultAgent(m); }});
    tree.Announce(kPath);
    watchToken_ = context_.clients.Listen([this](const std::string& client) {
        agents_.erase(client);
        if (defaultClient_ == client) {
            defaultClient_.clear();
        }
    });
}

int AgentManager::RegisterAgent(sd_bus_message* call) {
    const char* path = nullptr;
    const char* capability = nullptr;
    sd_bus_message_read(call, "os", &path, &capability);
    static const std::set<std::string> kCapabilities = {
        "", "DisplayOnly", "DisplayYesNo", "KeyboardOnly", "NoInputNoOutput", "KeyboardDisplay"};
    if (kCapabilities.count(capability) == 0) {
        return ReplyError(call, "org.bluez.Error.InvalidArguments",
                          "Invalid arguments in method call");
    }
    const std::string client = sd_bus_message_get_sender(call);
    if (agents_.count(client) != 0) {
        return ReplyError(call, "org.bluez.Error.AlreadyExists", "Already Exists");
    }
    agents_[client] = path;
    sd_bus_reply_method_return(call, "");
    return 1;
}

int AgentManager::UnregisterAgent(sd_bus_message* call) {
    const char* path = nullptr;
    sd_bus_message_read(call, "o", &path);
    const std::string client = sd_bus_message_get_sender(call);
    const auto it = agents_.find(client);
    if (it == agents_.end() || it->second != path) {
        return ReplyError(call, "org.bluez.Error.DoesNotExist", "No such Agent");
    }
    agents_.erase(it);
    if (defaultClient_ == client) {
        defaultClient_.clear();
    }
    sd_bus_reply_method_return(call, "");
    return 1;
}

int AgentManager::RequestDefaultAgent(sd_bus_message* call) {
    const char* path = nullptr;
    sd_bus_message_read(call, "o", &path);
    const std::string client = sd_bus_message_get_sender(call);
    const auto it = agents_.find(client);
    if (it == agents_.end() || it->second != path) {
        return ReplyError(call, "org.bluez.Error.DoesNotExist", "No such Agent");
    }
    defaultClient_ = client;
    sd_bus_reply_method_return(call, "");
    return 1;
}

}  // namespace QeltSim
