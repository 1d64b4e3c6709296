// Owning wrappers for sd-bus objects and the sd-bus error record, so that
// every message, slot and error is released on every path.
#pragma once

#include <systemd/sd-bus.h>

#include <memory>
#include <string>

namespace Qelt::BLE::BlueZUtil {

struct MessageUnref {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using MessagePtr = std::unique_ptr<sd_bus_message, MessageUnref>;

struct SlotUnref {
    void operator()(sd_bus_slot* slot) const { sd_bus_slot_unref(slot); }
};
using SlotPtr = std::unique_ptr<sd_bus_slot, SlotUnref>;

// An sd_bus_error that frees itself.
class BusError {
public:
    BusError() = default;
    BusError(const BusError&) = delete;
    BusError& operator=(const BusError&) = delete;
    ~BusError() { sd_bus_error_free(&error_); }

    sd_bus_error* Get() { return &error_; }
    const char* Name() const { return error_.name; }
    const char* Message() const { return error_.message; }

    // ": " and the error's message when it has one, otherwise ".": the tail
    // of every failure text built from a D-Bus error.
    std::string Detail() const {
        if (error_.message != nullptr && error_.message[0] != '\0') {
            return std::string(": ") + error_.message;
        }
        return ".";
    }

private:
    sd_bus_error error_{nullptr, nullptr, 0};
};

}  // namespace Qelt::BLE::BlueZUtil
