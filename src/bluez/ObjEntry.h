// One object of BlueZ's object tree: its path and, for every interface it
// implements, those properties whose values are strings or object paths.
#pragma once

#include <map>
#include <string>

namespace Qelt::BLE::BlueZUtil {

// Property name to its text; only `s` and `o` values are kept.
using PropertyMap = std::map<std::string, std::string>;
// Interface name to its properties.
using InterfaceMap = std::map<std::string, PropertyMap>;

struct ObjEntry {
    std::string path;
    InterfaceMap interfaces;

    bool Has(const std::string& interface) const { return interfaces.count(interface) != 0; }
};

}  // namespace Qelt::BLE::BlueZUtil
