#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "bluez/SerialNumberShape.h"

using Qelt::BLE::HasSerialNumberShape;

TEST(SerialNumberShape, ListsOnlyNamesShapedLikeASerialNumber) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"AB-1234.56.78", true},
        {"zz-ABCD.EF.GH", true},    // only length and separators count
        {"AB-1234.56.7", false},    // 12 characters
        {"AB-1234.56.789", false},  // 14 characters
        {"AB_1234.56.78", false},
        {"AB-1234-56.78", false},
        {"AB-1234.56-78", false},
        {"", false},
        {std::string("AB-1234.56.7\0", 13), true},
    };
    for (const auto& [name, listed] : cases) {
        EXPECT_EQ(HasSerialNumberShape(name), listed) << "name: " << name;
    }
}
