#include "bluez/DeviceName.h"

#include "bluez/BlueZNames.h"

namespace Qelt::BLE::BlueZUtil {

namespace {
std::string Lookup(const PropertyMap& properties, const char* name) {
    const auto found = properties.find(name);
    return found != properties.end() ? found->second : std::string();
}
}  // namespace

std::string DeviceName(const PropertyMap& device) {
    std::string name = Lookup(device, kNameProperty);
    if (name.empty()) {
        name = Lookup(device, kAliasProperty);
    }
    return name;
}

}  // namespace Qelt::BLE::BlueZUtil
