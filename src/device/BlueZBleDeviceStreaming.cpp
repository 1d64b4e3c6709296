// Streaming: registering the data callbacks subscribes the sample and the
// battery level characteristics; each sample notification is handed to the
// frame assembler under the state lock.
#include <exception>

#include "api/HandleManager.h"
#include "device/BlueZBleDevice.h"
#include "device/StreamDiagnostics.h"

namespace Qelt::BLE {

namespace {

constexpr const char* kBatteryLevel = "2A19";

}  // namespace

void BlueZBleDevice::RegisterDataAvailableCallback(QELTBLE_DATA_AVAILABLE_CALLBACK callback) {
    {
        std::lock_guard lock(stateMutex_);
        assembler_.SetFrameCallback(callback);
    }
    if (callback != nullptr) {
        SubscribeStreaming();
    } else {
        UnsubscribeStreaming();
    }
}

void BlueZBleDevice::RegisterDataAvailableBatchedCallback(
    QELTBLE_DATA_AVAILABLE_BATCHED_CALLBACK callback) {
    {
        std::lock_guard lock(stateMutex_);
        assembler_.SetBatchedCallback(callback);
    }
    if (callback != nullptr) {
        SubscribeStreaming();
    } else {
        UnsubscribeStreaming();
    }
}

void BlueZBleDevice::SetFramesPerCallback(uint32_t frames) {
    assembler_.SetFramesPerCallback(frames);
}

void BlueZBleDevice::SubscribeStreaming() {
    std::string dataCharacteristic;
    {
        std::lock_guard lock(configMutex_);
        dataCharacteristic = uuids_.dataCharacteristic;
    }
    link_.Subscribe(dataCharacteristic,
                    [this](const std::string& payload) { OnEEGAvailable(payload); });
    dataSubscribed_ = true;
    link_.Subscribe(kBatteryLevel, [this](const std::string& value) { OnBattery(value); });
    batterySubscribed_ = true;
}

void BlueZBleDevice::UnsubscribeStreaming() {
    if (dataSubscribed_.exchange(false)) {
        std::string dataCharacteristic;
        {
            std::lock_guard lock(configMutex_);
            dataCharacteristic = uuids_.dataCharacteristic;
        }
        link_.Unsubscribe(dataCharacteristic);
    }
    if (batterySubscribed_.exchange(false)) {
        link_.Unsubscribe(kBatteryLevel);
    }
}

void BlueZBleDevice::OnEEGAvailable(const std::string& payload) noexcept {
    try {
        std::lock_guard lock(stateMutex_);
        // Notifications that arrive while the device opens or closes are
        // dropped.
        if (!connected_) {
            return;
        }
        ReportFirstNotification(payload.size());
        try {
            assembler_.Process(payload, battery_.load());
        } catch (const std::exception& e) {
            ReportDroppedNotification(e.what());
        } catch (...) {
            ReportDroppedNotification();
        }
    } catch (...) {
        // Nothing may escape into the bus worker.
    }
}

void BlueZBleDevice::FreeStreamingBuffers() {
    std::lock_guard lock(stateMutex_);
    assembler_.Free();
}

QELTBLE_HANDLE BlueZBleDevice::OwnHandle() const {
    return HandleManager::GetInstance().GetHandleFromDevice(this);
}

}  // namespace Qelt::BLE
