// Skipping arbitrary bytes item by item: every skip must move on, stay inside
// the data (or end the reading beyond it) and finish whatever the nesting.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "smp/SimpleCBOR.h"

namespace cbor = Qelt::BLE::SimpleCBOR;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint64_t pos = 0;
    while (pos < size) {
        const uint64_t before = pos;
        cbor::skipValue(data, pos, size);
        if (pos <= before) {
            std::abort();
        }
    }
    return 0;
}
