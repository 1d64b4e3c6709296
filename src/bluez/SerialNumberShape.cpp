#include "bluez/SerialNumberShape.h"

#include <cstddef>

namespace Qelt::BLE {

namespace {
constexpr std::size_t kSerialNumberLength = 13;
constexpr std::size_t kHyphenIndex = 2;
constexpr std::size_t kFirstDotIndex = 7;
constexpr std::size_t kSecondDotIndex = 10;
}  // namespace

bool HasSerialNumberShape(const std::string& name) {
    return name.size() == kSerialNumberLength && name[kHyphenIndex] == '-' &&
           name[kFirstDotIndex] == '.' && name[kSecondDotIndex] == '.';
}

}  // namespace Qelt::BLE
