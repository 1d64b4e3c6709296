#include "bluez/CanonicalUuid.h"

#include <cctype>

namespace Qelt::BLE::BlueZUtil {

namespace {
constexpr const char* kBaseUuid = "00000000-0000-1000-8000-00805f9b34fb";
constexpr std::size_t kShortUuidLength = 4;
constexpr std::size_t kShortUuidOffset = 4;  // the "xxxx" in "0000xxxx-..."
}  // namespace

std::string CanonicalUuid(const std::string& uuid) {
    std::string canonical = uuid;
    if (uuid.size() == kShortUuidLength) {
        canonical = kBaseUuid;
        canonical.replace(kShortUuidOffset, kShortUuidLength, uuid);
    }
    for (char& c : canonical) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return canonical;
}

}  // namespace Qelt::BLE::BlueZUtil
