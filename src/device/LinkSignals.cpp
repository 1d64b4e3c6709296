#include "device/LinkSignals.h"

#include <cstring>

#include "bluez/BlueZNames.h"

namespace Qelt::BLE {

namespace {

// Walks the changed-properties dictionary that follows the interface name.
// `visit` is called with each property name while the message is inside its
// variant, whose contents signature it receives; it returns true when it
// read the contents itself, false to have them skipped. Returns false when
// the message cannot be read further.
template <typename Visit>
bool ForEachChangedProperty(sd_bus_message* message, Visit&& visit) {
    if (sd_bus_message_enter_container(message, 'a', BlueZUtil::kPropertiesEntrySignature) <= 0) {
        return false;
    }
    while (sd_bus_message_enter_container(message, 'e', "sv") > 0) {
        const char* name = nullptr;
        char type = 0;
        const char* contents = nullptr;
        if (sd_bus_message_read_basic(message, 's', &name) <= 0 || name == nullptr ||
            sd_bus_message_peek_type(message, &type, &contents) <= 0 || type != 'v' ||
            contents == nullptr || sd_bus_message_enter_container(message, 'v', contents) <= 0) {
            return false;
        }
        if (!visit(name, contents) && sd_bus_message_skip(message, nullptr) < 0) {
            return false;
        }
        if (sd_bus_message_exit_container(message) < 0 ||
            sd_bus_message_exit_container(message) < 0) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool ReadNotifiedValue(sd_bus_message* message, std::string& value) {
    // Runs for every notification, so the dictionary is walked without
    // peeking at each variant's type: entering a "Value" variant as "ay"
    // fails without moving when it holds anything else.
    const char* interface = nullptr;
    if (message == nullptr || sd_bus_message_read_basic(message, 's', &interface) <= 0 ||
        sd_bus_message_enter_container(message, 'a', BlueZUtil::kPropertiesEntrySignature) <= 0) {
        return false;
    }
    while (sd_bus_message_enter_container(message, 'e', "sv") > 0) {
        const char* name = nullptr;
        if (sd_bus_message_read_basic(message, 's', &name) <= 0 || name == nullptr) {
            return false;
        }
        if (std::strcmp(name, BlueZUtil::kValueProperty) == 0 &&
            sd_bus_message_enter_container(message, 'v', "ay") > 0) {
            const void* data = nullptr;
            size_t size = 0;
            if (sd_bus_message_read_array(message, 'y', &data, &size) < 0) {
                return false;
            }
            value.assign(static_cast<const char*>(data), data == nullptr ? 0 : size);
            return true;
        }
        if (sd_bus_message_skip(message, "v") < 0 || sd_bus_message_exit_container(message) < 0) {
            return false;
        }
    }
    return false;
}

bool ReportsDisconnection(sd_bus_message* message) {
    const char* interface = nullptr;
    if (message == nullptr || sd_bus_message_read_basic(message, 's', &interface) <= 0 ||
        interface == nullptr || std::strcmp(interface, BlueZUtil::kDeviceInterface) != 0) {
        return false;
    }
    bool disconnected = false;
    ForEachChangedProperty(message, [&](const char* name, const char* contents) {
        if (std::strcmp(name, BlueZUtil::kConnectedProperty) != 0 ||
            std::strcmp(contents, "b") != 0) {
            return false;
        }
        int connected = 1;
        if (sd_bus_message_read_basic(message, 'b', &connected) <= 0) {
            return false;
        }
        if (connected == 0) {
            disconnected = true;
        }
        return true;
    });
    return disconnected;
}

}  // namespace Qelt::BLE
