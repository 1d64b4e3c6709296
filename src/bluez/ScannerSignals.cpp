#include "bluez/ScannerSignals.h"

#include <cstring>
#include <string>

#include "bluez/BlueZBleScanner.h"
#include "bluez/BlueZNames.h"
#include "bluez/DeviceName.h"
#include "bluez/ObjEntry.h"
#include "bluez/PropertyParsing.h"

namespace Qelt::BLE {

namespace {

void HandleInterfacesAdded(sd_bus_message* message, BlueZBleScanner& scanner) {
    const char* path = nullptr;
    if (sd_bus_message_read_basic(message, 'o', &path) <= 0 || path == nullptr) {
        return;
    }
    BlueZUtil::ObjEntry entry;
    entry.path = path;
    BlueZUtil::ParseInterfaceList(message, entry);
    scanner.OnInterfacesAdded(entry);
}

void HandleDevicePropertiesChanged(sd_bus_message* message, BlueZBleScanner& scanner) {
    const char* path = sd_bus_message_get_path(message);
    const char* interface = nullptr;
    if (path == nullptr || sd_bus_message_read_basic(message, 's', &interface) <= 0 ||
        interface == nullptr || std::strcmp(interface, BlueZUtil::kDeviceInterface) != 0) {
        return;
    }
    BlueZUtil::PropertyMap changed;
    BlueZUtil::ParsePropsDict(message, changed);
    const std::string name = BlueZUtil::DeviceName(changed);
    if (!name.empty()) {
        scanner.OnDevicePropertiesChanged(path, name);
    }
}

}  // namespace

int OnInterfacesAddedSignal(sd_bus_message* message, void* scanner, sd_bus_error* /*error*/) {
    if (message == nullptr || scanner == nullptr) {
        return 0;
    }
    try {
        HandleInterfacesAdded(message, *static_cast<BlueZBleScanner*>(scanner));
    } catch (...) {
        // A report that cannot be handled is dropped.
    }
    return 0;
}

int OnDevicePropertiesChangedSignal(sd_bus_message* message, void* scanner,
                                    sd_bus_error* /*error*/) {
    if (message == nullptr || scanner == nullptr) {
        return 0;
    }
    try {
        HandleDevicePropertiesChanged(message, *static_cast<BlueZBleScanner*>(scanner));
    } catch (...) {
        // A report that cannot be handled is dropped.
    }
    return 0;
}

}  // namespace Qelt::BLE
