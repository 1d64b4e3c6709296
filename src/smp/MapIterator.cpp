#include "smp/MapIterator.h"

#include "smp/SimpleCBOR.h"

namespace Qelt::BLE {

MapIterator::MapIterator(const uint8_t* buffer, uint64_t position, uint64_t length)
    : data(buffer), size(buffer == nullptr ? 0 : length), pos(position) {
    if (pos >= size || data[pos] >> 5 != SimpleCBOR::kMap) {
        return;
    }
    const SimpleCBOR::Head head = SimpleCBOR::readHead(data, pos, size);
    if (head.indefinite) {
        indefinite = true;
    } else {
        count = head.argument;
    }
}

bool MapIterator::nextKey(std::string& key) {
    key.clear();
    if (pos >= size) {
        return false;
    }
    if (indefinite) {
        if (data[pos] == SimpleCBOR::kBreak) {
            ++pos;
            return false;
        }
    } else if (index >= count) {
        return false;
    }
    ++index;

    if (data[pos] >> 5 != SimpleCBOR::kTextString) {
        return true;
    }
    const SimpleCBOR::Head head = SimpleCBOR::readHead(data, pos, size);
    if (head.indefinite || head.argument > size - pos) {
        return true;
    }
    key.assign(reinterpret_cast<const char*>(data + pos), static_cast<size_t>(head.argument));
    pos += head.argument;
    return true;
}

}  // namespace Qelt::BLE
