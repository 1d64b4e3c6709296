#include "api/DefaultGeneration.h"

#include <atomic>

namespace Qelt::BLE {

namespace {
std::atomic<uint32_t> g_defaultGeneration{kGenerationDetect};
}

bool SetConfiguredGeneration(uint32_t generation) noexcept {
    if (generation > kGenerationLegacy) {
        return false;
    }
    g_defaultGeneration.store(generation, std::memory_order_relaxed);
    return true;
}

uint32_t GetConfiguredGeneration() noexcept {
    return g_defaultGeneration.load(std::memory_order_relaxed);
}

}  // namespace Qelt::BLE
