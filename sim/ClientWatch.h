// Tells interested parts of the simulator when a client (a unique bus name)
// leaves the bus, as BlueZ's disconnect watches do: discovery sessions,
// notify sessions and agents belong to the client that made them.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "SdBus.h"

namespace QeltSim {

class ClientWatch {
public:
    using Listener = std::function<void(const std::string& client)>;

    explicit ClientWatch(sd_bus* bus);
    ClientWatch(const ClientWatch&) = delete;
    ClientWatch& operator=(const ClientWatch&) = delete;

    // Returns a token for Unlisten.
    int Listen(Listener listener) {
        listeners_[++lastToken_] = std::move(listener);
        return lastToken_;
    }
    void Unlisten(int token) { listeners_.erase(token); }

private:
    static int OnNameOwnerChanged(sd_bus_message* message, void* userdata, sd_bus_error* error);

    SlotPtr slot_;
    std::map<int, Listener> listeners_;
    int lastToken_ = 0;
};

}  // namespace QeltSim
