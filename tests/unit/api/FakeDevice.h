// A device without Bluetooth for tests of the handle table and the exports:
// it reports a serial number and records its own destruction.
#pragma once

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "device/IDevice.h"

namespace QeltTest {

class FakeDevice : public Qelt::BLE::IDevice {
public:
    explicit FakeDevice(const std::string& serial, std::function<void()> onDestroy = {})
        : onDestroy_(std::move(onDestroy)) {
        std::strncpy(info_.serialNumber, serial.c_str(), sizeof info_.serialNumber - 1);
    }
    ~FakeDevice() override {
        if (onDestroy_) {
            onDestroy_();
        }
    }

    bool CanDelete() const override { return canDelete; }
    void PrepareForDelete() override {
        if (onPrepare) {
            onPrepare();
        }
    }

    QELTBLE_DEVICE_INFORMATION GetDeviceInfo() override { return info_; }
    std::vector<QELTBLE_CHANNEL_CONFIGURATION> GetChannelConfiguration() override {
        return channels;
    }
    void RegisterDataAvailableCallback(QELTBLE_DATA_AVAILABLE_CALLBACK) override {}
    void RegisterDataAvailableBatchedCallback(QELTBLE_DATA_AVAILABLE_BATCHED_CALLBACK) override {}
    void SetFramesPerCallback(uint32_t) override {}
    std::vector<unsigned char> ReadCharacteristic(const char*, const char*) override { return {}; }
    void WriteCharacteristic(const char*, const char*, const unsigned char*,
                             unsigned int) override {}
    bool HasService(const char*) override { return false; }
    std::vector<uint8_t> SendSmpCommand(const uint8_t*, uint32_t, uint32_t) override { return {}; }
    std::vector<uint8_t> SendNusCommand(const uint8_t* request, uint32_t length,
                                        uint32_t) override {
        lastRequest.assign(request, request + length);
        return nusResponse;
    }
    void RegisterNusDataCallback(std::function<void(const uint8_t*, uint32_t)>) override {}
    uint8_t GetBatteryLevel() const override { return 100; }
    int SetActiveLayout(uint8_t, uint16_t, uint8_t, bool, uint16_t) override {
        return activeLayoutResult;
    }

    bool canDelete = true;
    std::function<void()> onPrepare;
    std::vector<QELTBLE_CHANNEL_CONFIGURATION> channels;
    std::vector<uint8_t> nusResponse;
    std::vector<uint8_t> lastRequest;
    int activeLayoutResult = 0;

private:
    QELTBLE_DEVICE_INFORMATION info_{};
    std::function<void()> onDestroy_;
};

}  // namespace QeltTest
