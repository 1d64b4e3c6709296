// Walks one CBOR map in place, key by key.
//
// The iterator reads the map header where it is constructed and then yields
// the keys one after the other. After each key the caller reads or skips the
// value at `pos` with the SimpleCBOR readers, passing `pos` itself so that the
// next key is looked for behind the value:
//
//     MapIterator map(data, 0, size);
//     std::string key;
//     while (map.nextKey(key)) {
//         if (key == "rc") {
//             rc = SimpleCBOR::readUnsigned(map.data, map.pos, map.size);
//         } else {
//             SimpleCBOR::skipValue(map.data, map.pos, map.size);
//         }
//     }
//
// A key that is not a usable text string comes out empty; when the key item
// is not a text string at all `pos` stays on it, so that skipping "the value"
// skips the key item and the real value is met as the next key. The iterator
// does not copy the data, never reads outside it and never throws.
#pragma once

#include <cstdint>
#include <string>

namespace Qelt::BLE {

class MapIterator {
public:
    // Reads the map header at `position`. When there is no map there, the
    // iterator yields nothing.
    MapIterator(const uint8_t* buffer, uint64_t position, uint64_t length);

    // Moves to the next key. Returns false at the end of the map; otherwise
    // true with the key in `key` (empty when it is not a usable text string).
    bool nextKey(std::string& key);

    const uint8_t* data;
    uint64_t size;
    uint64_t pos;             // where the next item is read
    uint64_t count = 0;       // entries of a definite-length map; 0 without a map
    bool indefinite = false;  // the map ends at a break byte instead
    uint64_t index = 0;       // keys read so far
};

}  // namespace Qelt::BLE
