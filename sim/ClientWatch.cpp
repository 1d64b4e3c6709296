#include "ClientWatch.h"

#include <stdexcept>

namespace QeltSim {

ClientWatch::ClientWatch(sd_bus* bus) {
    sd_bus_slot* slot = nullptr;
    const int r =
        sd_bus_match_signal(bus, &slot, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                            "org.freedesktop.DBus", "NameOwnerChanged", OnNameOwnerChanged, this);
    if (r < 0) {
        throw std::runtime_error("could not watch clients leaving the bus");
    }
    slot_.reset(slot);
}

int ClientWatch::OnNameOwnerChanged(sd_bus_message* message, void* userdata,
                                    sd_bus_error* /*error*/) {
    auto* self = static_cast<ClientWatch*>(userdata);
    const char* name = nullptr;
    const char* oldOwner = nullptr;
    const char* newOwner = nullptr;
    if (sd_bus_message_read(message, "sss", &name, &oldOwner, &newOwner) < 0) {
        return 0;
    }
    // A unique name whose owner is gone: that client has left the bus.
    if (name[0] != ':' || newOwner[0] != '\0') {
        return 0;
    }
    const std::string client = name;
    // A listener may unlisten itself or others while this runs.
    std::vector<int> tokens;
    for (const auto& [token, listener] : self->listeners_) {
        tokens.push_back(token);
    }
    for (const int token : tokens) {
        const auto it = self->listeners_.find(token);
        if (it != self->listeners_.end()) {
            Listener listener = it->second;
            listener(client);
        }
    }
    return 0;
}

}  // namespace QeltSim
