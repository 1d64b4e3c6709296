// org.bluez.AgentManager1 on /org/bluez: clients register pairing agents
// (bluetoothctl does at start). The simulator never pairs, so agents are only
// kept, checked and forgotten when their client leaves the bus.
#pragma once

#include <map>
#include <string>

#include "SimContext.h"

namespace QeltSim {

class AgentManager {
public:
    explicit AgentManager(SimContext& context);
    AgentManager(const AgentManager&) = delete;
    AgentManager& operator=(const AgentManager&) = delete;
    ~AgentManager() { context_.clients.Unlisten(watchToken_); }

private:
    int RegisterAgent(sd_bus_message* call);
    int UnregisterAgent(sd_bus_message* call);
    int RequestDefaultAgent(sd_bus_message* call);

    SimContext& context_;
    std::map<std::string, std::string> agents_;  // client -> agent path
    std::string defaultClient_;
    int watchToken_ = 0;
};

}  // namespace QeltSim
