#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "bluez/DeviceName.h"

using Qelt::BLE::BlueZUtil::DeviceName;
using Qelt::BLE::BlueZUtil::PropertyMap;

TEST(DeviceName, NameElseAlias) {
    const std::vector<std::pair<PropertyMap, std::string>> cases = {
        {{{"Name", "AB-1234.56.78"}, {"Alias", "other"}}, "AB-1234.56.78"},
        {{{"Name", ""}, {"Alias", "EF-3456.78.90"}}, "EF-3456.78.90"},
        {{{"Alias", "EF-3456.78.90"}}, "EF-3456.78.90"},
        {{{"Name", ""}, {"Alias", ""}}, ""},
        {{{"Address", "00:11:22:33:44:55"}}, ""},
    };
    for (const auto& [properties, expected] : cases) {
        EXPECT_EQ(DeviceName(properties), expected);
    }
}
