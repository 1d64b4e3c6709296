// Owning handles for the sd-bus and sd-event objects the simulator keeps:
// every bus, slot, message, event loop and event source is released by its
// handle's destructor.
#pragma once

#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

#include <memory>

namespace QeltSim {

struct BusUnref {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct SlotUnref {
    void operator()(sd_bus_slot* slot) const { sd_bus_slot_unref(slot); }
};
struct MessageUnref {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
struct EventUnref {
    void operator()(sd_event* event) const { sd_event_unref(event); }
};
struct EventSourceUnref {
    void operator()(sd_event_source* source) const { sd_event_source_disable_unref(source); }
};

using BusPtr = std::unique_ptr<sd_bus, BusUnref>;
using SlotPtr = std::unique_ptr<sd_bus_slot, SlotUnref>;
using MessagePtr = std::unique_ptr<sd_bus_message, MessageUnref>;
using EventPtr = std::unique_ptr<sd_event, EventUnref>;
using EventSourcePtr = std::unique_ptr<sd_event_source, EventSourceUnref>;

// Takes a new reference to a message the caller does not own.
inline MessagePtr RefMessage(sd_bus_message* message) {
    return MessagePtr(sd_bus_message_ref(message));
}

// Frees an sd_bus_error when it goes out of scope.
class ScopedBusError {
public:
    ScopedBusError() = default;
    ScopedBusError(const ScopedBusError&) = delete;
    ScopedBusError& operator=(const ScopedBusError&) = delete;
    ~ScopedBusError() { sd_bus_error_free(&error_); }

    sd_bus_error* Get() { return &error_; }
    const char* Name() const { return error_.name; }
    const char* Message() const { return error_.message; }

private:
    sd_bus_error error_ = SD_BUS_ERROR_NULL;
};

}  // namespace QeltSim
