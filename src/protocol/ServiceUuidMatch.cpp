#include "protocol/ServiceUuidMatch.h"

#include <algorithm>

namespace Qelt::BLE {

namespace {

// Upper case as the C locale defines it: only a to z change. Independent of
// whatever locale the application has set.
char AsciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return AsciiUpper(x) == AsciiUpper(y);
           });
}

}  // namespace

bool ListHoldsServiceUuid(const std::vector<std::string>& serviceUuids, std::string_view service) {
    return std::any_of(
        serviceUuids.begin(), serviceUuids.end(),
        [service](const std::string& uuid) { return EqualIgnoringAsciiCase(uuid, service); });
}

}  // namespace Qelt::BLE
