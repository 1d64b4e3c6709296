// The abstract device behind a handle. BlueZBleDevice is the implementation
// for amplifiers reached through BlueZ; tests provide their own.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "qeltble.h"

namespace Qelt::BLE {

class IDevice {
public:
    virtual ~IDevice() = default;

    // Hooks the handle table calls before destroying a device. A device that
    // could block its destroyer forever answers false and is abandoned.
    virtual bool CanDelete() const { return true; }
    virtual void PrepareForDelete() {}

    virtual QELTBLE_DEVICE_INFORMATION GetDeviceInfo() = 0;
    virtual std::vector<QELTBLE_CHANNEL_CONFIGURATION> GetChannelConfiguration() = 0;

    virtual void RegisterDataAvailableCallback(QELTBLE_DATA_AVAILABLE_CALLBACK callback) = 0;
    virtual void RegisterDataAvailableBatchedCallback(
        QELTBLE_DATA_AVAILABLE_BATCHED_CALLBACK callback) = 0;
    virtual void SetFramesPerCallback(uint32_t frames) = 0;
    // A device kind without connection-state reporting ignores the callback.
    virtual void RegisterConnectionStateCallback(QELTBLE_CONNECTION_STATE_CALLBACK) {}

    virtual std::vector<unsigned char> ReadCharacteristic(const char* serviceUuid,
                                                          const char* characteristicUuid) = 0;
    virtual void WriteCharacteristic(const char* serviceUuid, const char* characteristicUuid,
                                     const unsigned char* data, unsigned int length) = 0;
    virtual bool HasService(const char* serviceUuid) = 0;

    virtual std::vector<uint8_t> SendSmpCommand(const uint8_t* frame, uint32_t length,
                                                uint32_t timeoutMs) = 0;
    virtual std::vector<uint8_t> SendNusCommand(const uint8_t* request, uint32_t length,
                                                uint32_t timeoutMs) = 0;
    virtual void RegisterNusDataCallback(
        std::function<void(const uint8_t* data, uint32_t length)> callback) = 0;

    virtual uint8_t GetBatteryLevel() const = 0;

    // Host-side layout of NUS-generation amplifiers; a device kind without
    // them accepts and does nothing.
    virtual int SetActiveChannelCount(uint8_t) { return 0; }
    virtual int SetActiveLayout(uint8_t /*channelCount*/, uint16_t /*framesPerNotification*/,
                                uint8_t /*bytesPerSample*/, bool /*littleEndian*/,
                                uint16_t /*samplingRate*/) {
        return 0;
    }
};

}  // namespace Qelt::BLE
