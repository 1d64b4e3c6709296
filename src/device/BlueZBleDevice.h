// One opened amplifier, reached through BlueZ. Construction opens it: finds
// it by serial number, connects, learns its services and protocol
// generation, reads its device information and sample layout. From then on
// the application streams its samples by registering a data callback, and
// the device watches the link: when the amplifier drops it, the device says
// so, reopens it on its reconnect thread with growing pauses until that
// succeeds, and resumes streaming.
//
// Threads and locks. Application threads call the IDevice operations; the
// link's bus worker runs every bus call, every notification (samples,
// battery, configuration records) and the disconnection report; the
// reconnect thread reopens. `stateMutex_` guards the connected flag, the
// callbacks and the frame assembler, and is held while a notification is
// processed (application callbacks included); it is taken before the handle
// table's lock and never together with `reconnectMutex_`. `configMutex_`
// guards the configuration records, `infoMutex_` the device information; no
// lock is held across a bus call.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/DeviceTimings.h"
#include "device/FrameAssembler.h"
#include "device/GattLink.h"
#include "device/IDevice.h"
#include "protocol/IProtocolHandler.h"
#include "protocol/ProtocolUUIDs.h"

namespace Qelt::BLE {

inline constexpr const char* kNoKnownServiceMessage =
    "Device exposes neither the NUS nor the Qelt data service; cannot auto-detect protocol "
    "generation.";
inline constexpr const char* kChannelConfigurationMessage = "Could not read channel configuration.";
inline constexpr const char* kPayloadConfigurationMessage = "Could not read payload configuration.";
inline constexpr const char* kFilterConfigurationMessage = "Could not read filter configuration.";

class BlueZBleDevice final : public IDevice {
public:
    // Opens the amplifier named `serial`. With a null handler the protocol
    // generation is the configured one, or detected from the services; the
    // device then owns the handler it creates. Throws what opening throws.
    BlueZBleDevice(const std::string& serial, IProtocolHandler* handler);
    BlueZBleDevice(const BlueZBleDevice&) = delete;
    BlueZBleDevice& operator=(const BlueZBleDevice&) = delete;
    // Stops reconnecting and streaming and closes the link.
    ~BlueZBleDevice() override;

    QELTBLE_DEVICE_INFORMATION GetDeviceInfo() override;
    std::vector<QELTBLE_CHANNEL_CONFIGURATION> GetChannelConfiguration() override;
    uint8_t GetBatteryLevel() const override;

    void RegisterDataAvailableCallback(QELTBLE_DATA_AVAILABLE_CALLBACK callback) override;
    void RegisterDataAvailableBatchedCallback(
        QELTBLE_DATA_AVAILABLE_BATCHED_CALLBACK callback) override;
    void SetFramesPerCallback(uint32_t frames) override;
    void RegisterConnectionStateCallback(QELTBLE_CONNECTION_STATE_CALLBACK callback) override;

    std::vector<unsigned char> ReadCharacteristic(const char* serviceUuid,
                                                  const char* characteristicUuid) override;
    void WriteCharacteristic(const char* serviceUuid, const char* characteristicUuid,
                             const unsigned char* data, unsigned int length) override;
    bool HasService(const char* serviceUuid) override;

    std::vector<uint8_t> SendSmpCommand(const uint8_t* frame, uint32_t length,
                                        uint32_t timeoutMs) override;
    std::vector<uint8_t> SendNusCommand(const uint8_t* request, uint32_t length,
                                        uint32_t timeoutMs) override;
    void RegisterNusDataCallback(
        std::function<void(const uint8_t* data, uint32_t length)> callback) override;
    int SetActiveChannelCount(uint8_t channelCount) override;
    int SetActiveLayout(uint8_t channelCount, uint16_t framesPerNotification,
                        uint8_t bytesPerSample, bool littleEndian, uint16_t samplingRate) override;

private:
    // Opening (BlueZBleDeviceOpen.cpp).
    void Open();
    void OpenAttempt();
    void SelectHandlerFromServices();
    void ReadDeviceInformation();
    void UseNusDefaultLayout();
    void ReadLegacyConfiguration();
    void ReadConfigurationBurst(const std::string& characteristic,
                                GattLink::NotificationHandler record,
                                const std::function<void()>& reset, const char* failure);
    void OnChannelConfigAvailable(const std::string& value) noexcept;
    void OnPayloadChannelConfigAvailable(const std::string& value) noexcept;
    void OnFilterChannelConfigAvailable(const std::string& value) noexcept;
    // Counts one record of a configuration read; `configMutex_` held.
    void RecordArrived(uint16_t& received, uint16_t expected);
    void ResetConfiguration();
    void CompleteOpen();
    void OnBattery(const std::string& value) noexcept;

    // Streaming (BlueZBleDeviceStreaming.cpp).
    void SubscribeStreaming();
    void UnsubscribeStreaming();
    void OnEEGAvailable(const std::string& payload) noexcept;
    void FreeStreamingBuffers();
    QELTBLE_HANDLE OwnHandle() const;

    // Supervision (BlueZBleDeviceSupervision.cpp).
    bool StopRequested();
    void OnDeviceDisconnected() noexcept;
    void NotifyConnectionState(uint32_t state) noexcept;
    void ReconnectLoop() noexcept;
    void Reconnect();
    void Close() noexcept;

    const std::string serial_;
    const DeviceTimings timings_;

    // The handler never changes once chosen; `ownedHandler_` holds it when
    // the device created it.
    std::unique_ptr<IProtocolHandler> ownedHandler_;
    IProtocolHandler* handler_ = nullptr;

    // Configuration of the current open: written by the opening thread and,
    // during a configuration read, by the bus worker.
    std::mutex configMutex_;
    std::condition_variable configCv_;
    bool burstDone_ = false;
    ProtocolUUIDs uuids_;
    QELTBLE_AMPLIFIER_CONFIGURATION amplifier_{};
    ChannelMap channels_;
    FilterMap filters_;
    PayloadLayout layout_;
    uint16_t channelReceived_ = 0;
    uint16_t payloadReceived_ = 0;
    uint16_t filterReceived_ = 0;

    mutable std::mutex infoMutex_;
    QELTBLE_DEVICE_INFORMATION deviceInfo_{};
    std::atomic<uint8_t> battery_{100};

    // Streaming.
    std::mutex stateMutex_;
    bool connected_ = false;
    FrameAssembler assembler_;
    QELTBLE_CONNECTION_STATE_CALLBACK connectionStateCallback_ = nullptr;
    std::atomic<bool> dataSubscribed_{false};
    std::atomic<bool> batterySubscribed_{false};

    // Supervision.
    std::mutex reconnectMutex_;
    std::condition_variable reconnectCv_;
    bool reconnectRequested_ = false;
    bool stopRequested_ = false;

    // Declared last but the thread: its bus worker calls into the members
    // above until the link is torn down.
    GattLink link_;
    std::thread reconnectThread_;
};

}  // namespace Qelt::BLE
