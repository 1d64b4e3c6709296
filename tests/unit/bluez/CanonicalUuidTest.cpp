#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "bluez/CanonicalUuid.h"

using Qelt::BLE::BlueZUtil::CanonicalUuid;

TEST(CanonicalUuid, ExpandsShortUuidsAndUpperCasesEverything) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"180f", "0000180F-0000-1000-8000-00805F9B34FB"},
        {"2A19", "00002A19-0000-1000-8000-00805F9B34FB"},
        {"6e400003-b5a3-f393-e0a9-e50e24dcca9e", "6E400003-B5A3-F393-E0A9-E50E24DCCA9E"},
        {"6E400003-B5A3-F393-E0A9-E50E24DCCA9E", "6E400003-B5A3-F393-E0A9-E50E24DCCA9E"},
        {"abcdef", "ABCDEF"},      // 6 characters: not expanded
        {"0000180f", "0000180F"},  // 32-bit form: not expanded
        {"", ""},
        {"fe\xe9z", "0000FE\xe9Z-0000-1000-8000-00805F9B34FB"},  // bytes above 127 stay
    };
    for (const auto& [input, expected] : cases) {
        EXPECT_EQ(CanonicalUuid(input), expected) << "input: " << input;
    }
}
