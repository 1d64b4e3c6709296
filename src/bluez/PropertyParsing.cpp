#include "bluez/PropertyParsing.h"

#include <cstring>

#include "bluez/BlueZNames.h"

namespace Qelt::BLE::BlueZUtil {

namespace {

bool IsTextSignature(const char* contents) {
    return std::strcmp(contents, "s") == 0 || std::strcmp(contents, "o") == 0;
}

// Reads one "sv" dictionary entry (the entry container is already entered).
// False when the message cannot be read further.
bool ReadProperty(sd_bus_message* message, PropertyMap& properties) {
    const char* name = nullptr;
    if (sd_bus_message_read_basic(message, 's', &name) <= 0 || name == nullptr) {
        return false;
    }
    char type = 0;
    const char* contents = nullptr;
    if (sd_bus_message_peek_type(message, &type, &contents) <= 0 || type != 'v' ||
        contents == nullptr) {
        return false;
    }
    const bool isText = IsTextSignature(contents);
    const char text = contents[0];
    if (sd_bus_message_enter_container(message, 'v', contents) <= 0) {
        return false;
    }
    if (isText) {
        const char* value = nullptr;
        if (sd_bus_message_read_basic(message, text, &value) <= 0) {
            return false;
        }
        properties.insert_or_assign(name, value != nullptr ? value : "");
    } else if (sd_bus_message_skip(message, nullptr) < 0) {
        return false;
    }
    return sd_bus_message_exit_container(message) >= 0;
}

}  // namespace

void ParsePropsDict(sd_bus_message* message, PropertyMap& properties) {
    if (sd_bus_message_enter_container(message, 'a', kPropertiesEntrySignature) <= 0) {
        return;
    }
    while (sd_bus_message_enter_container(message, 'e', "sv") > 0) {
        if (!ReadProperty(message, properties) || sd_bus_message_exit_container(message) < 0) {
            return;
        }
    }
    sd_bus_message_exit_container(message);
}

void ParseInterfaceList(sd_bus_message* message, ObjEntry& entry) {
    if (sd_bus_message_enter_container(message, 'a', kInterfaceListEntrySignature) <= 0) {
        return;
    }
    while (sd_bus_message_enter_container(message, 'e', "sa{sv}") > 0) {
        const char* interface = nullptr;
        const bool named =
            sd_bus_message_read_basic(message, 's', &interface) > 0 && interface != nullptr;
        PropertyMap properties;
        ParsePropsDict(message, properties);
        if (named) {
            entry.interfaces.insert_or_assign(interface, std::move(properties));
        }
        if (sd_bus_message_exit_container(message) < 0) {
            return;
        }
    }
    sd_bus_message_exit_container(message);
}

}  // namespace Qelt::BLE::BlueZUtil
