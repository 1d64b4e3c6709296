// The abstract scanner: discovery of amplifiers and the list of those seen.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "qeltble.h"

namespace Qelt::BLE {

class IAdapter {
public:
    virtual ~IAdapter() = default;

    virtual void StartScanning() = 0;
    virtual void StopScanning() = 0;
    virtual bool IsScanning() const = 0;
    virtual void Shutdown() = 0;
    virtual void RegisterDeviceDiscoveredCallback(QELTBLE_DEVICE_DISCOVERED_CALLBACK callback) = 0;
    virtual void RegisterDeviceListChangedCallback(
        QELTBLE_DEVICE_LIST_CHANGED_CALLBACK callback) = 0;
    virtual uint32_t GetDiscoveredDeviceCount() = 0;
    // 0 on success; 4 for a null buffer, a length of 0 or an index beyond
    // the list.
    virtual int32_t GetDiscoveredDeviceName(uint32_t index, char* buffer, uint32_t length) = 0;
    // Decides which advertised names are listed; empty restores the default
    // rule (the shape of an amplifier serial number).
    virtual void SetDeviceNameFilter(std::function<bool(const std::string&)> filter) = 0;
};

}  // namespace Qelt::BLE
