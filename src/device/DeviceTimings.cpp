#include "device/DeviceTimings.h"

#include <mutex>

namespace Qelt::BLE {

namespace {

std::mutex& TimingsMutex() {
    static std::mutex mutex;
    return mutex;
}

DeviceTimings& StoredTimings() {
    static DeviceTimings timings;
    return timings;
}

}  // namespace

DeviceTimings CurrentDeviceTimings() {
    std::lock_guard lock(TimingsMutex());
    return StoredTimings();
}

void SetDeviceTimings(const DeviceTimings& timings) {
    std::lock_guard lock(TimingsMutex());
    StoredTimings() = timings;
}

}  // namespace Qelt::BLE
