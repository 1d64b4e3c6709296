// A response map walked the way the image commands walk it: key by key, each
// value read as an integer, a text, a byte string or skipped. The first input
// byte chooses the reader for each key; the rest is the CBOR data.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "smp/MapIterator.h"
#include "smp/SimpleCBOR.h"

namespace cbor = Qelt::BLE::SimpleCBOR;

namespace {

// Keeps the values read alive, so that reading them is not optimised away.
volatile unsigned g_sink;

// A string is returned only when it lies wholly inside the data.
void CheckString(uint64_t size, uint64_t before, uint64_t after, size_t length) {
    if (after <= before || after > size || length > after - before) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t inputSize) {
    if (inputSize < 1) {
        return 0;
    }
    const uint8_t choices = input[0];
    const uint8_t* data = input + 1;
    const uint64_t size = inputSize - 1;

    Qelt::BLE::MapIterator map(data, 0, size);
    std::string key;
    unsigned checksum = 0;
    while (true) {
        const uint64_t keyStart = map.pos;
        const uint64_t indexBefore = map.index;
        if (!map.nextKey(key)) {
            break;
        }
        if (map.index != indexBefore + 1 || map.pos < keyStart || key.size() > size) {
            std::abort();
        }
        const uint64_t before = map.pos;
        bool consumed = true;
        switch ((choices >> (2 * (map.index % 4))) & 3) {
            case 0:
                checksum += static_cast<unsigned>(cbor::readUnsigned(map.data, map.pos, map.size));
                break;
            case 1:
                if (const auto text = cbor::readText(map.data, map.pos, map.size)) {
                    CheckString(size, before, map.pos, text->size());
                    for (char c : *text) {
                        checksum += static_cast<unsigned char>(c);
                    }
                } else {
                    consumed = false;
                }
                break;
            case 2:
                if (const auto bytes = cbor::readBytes(map.data, map.pos, map.size)) {
                    CheckString(size, before, map.pos, bytes->size());
                    for (uint8_t b : *bytes) {
                        checksum += b;
                    }
                } else {
                    consumed = false;
                }
                break;
            default:
                cbor::skipValue(map.data, map.pos, map.size);
                break;
        }
        if (!consumed) {
            // The readers leave a value they cannot return in place; callers
            // then skip it.
            if (map.pos != before) {
                std::abort();
            }
            cbor::skipValue(map.data, map.pos, map.size);
        }
        // Every value read or skipped moves on, unless the data has ended.
        if (before < size && map.pos <= before) {
            std::abort();
        }
    }
    g_sink = checksum;
    return 0;
}
