// Construction, destruction and the accessors of the device; opening,
// streaming and supervision each have a file of their own.
#include "device/BlueZBleDevice.h"

#include "api/DefaultGeneration.h"
#include "api/NotAvailable.h"
#include "protocol/QeltLegacyProtocolHandler.h"
#include "protocol/QeltNusProtocolHandler.h"

namespace Qelt::BLE {

namespace {

std::string TextOrEmpty(const char* text) {
    return text != nullptr ? std::string(text) : std::string();
}

}  // namespace

BlueZBleDevice::BlueZBleDevice(const std::string& serial, IProtocolHandler* handler)
    : serial_(serial),
      timings_(CurrentDeviceTimings()),
      handler_(handler),
      assembler_([this] { return OwnHandle(); }),
      link_(
          timings_, [this] { return StopRequested(); }, [this] { OnDeviceDisconnected(); }) {
    if (handler_ == nullptr) {
        // Without a configured generation the services decide while opening.
        switch (GetConfiguredGeneration()) {
            case kGenerationNus:
                ownedHandler_ = std::make_unique<QeltNusProtocolHandler>();
                break;
            case kGenerationLegacy:
                ownedHandler_ = std::make_unique<QeltLegacyProtocolHandler>();
                break;
            default:
                break;
        }
        handler_ = ownedHandler_.get();
    }
    Open();
    try {
        reconnectThread_ = std::thread(&BlueZBleDevice::ReconnectLoop, this);
    } catch (...) {
        Close();
        throw;
    }
}

BlueZBleDevice::~BlueZBleDevice() {
    Close();
}

QELTBLE_DEVICE_INFORMATION BlueZBleDevice::GetDeviceInfo() {
    std::lock_guard lock(infoMutex_);
    return deviceInfo_;
}

std::vector<QELTBLE_CHANNEL_CONFIGURATION> BlueZBleDevice::GetChannelConfiguration() {
    std::lock_guard lock(configMutex_);
    std::vector<QELTBLE_CHANNEL_CONFIGURATION> records;
    records.reserve(channels_.size());
    for (const auto& entry : channels_) {
        records.push_back(entry.second);
    }
    return records;
}

uint8_t BlueZBleDevice::GetBatteryLevel() const {
    return battery_.load();
}

std::vector<unsigned char> BlueZBleDevice::ReadCharacteristic(const char* serviceUuid,
                                                              const char* characteristicUuid) {
    const std::string value = link_.Read(TextOrEmpty(serviceUuid), TextOrEmpty(characteristicUuid));
    return std::vector<unsigned char>(value.begin(), value.end());
}

void BlueZBleDevice::WriteCharacteristic(const char* serviceUuid, const char* characteristicUuid,
                                         const unsigned char* data, unsigned int length) {
    const std::string value =
        data != nullptr ? std::string(reinterpret_cast<const char*>(data), length) : std::string();
    link_.Write(TextOrEmpty(serviceUuid), TextOrEmpty(characteristicUuid), value, true);
}

bool BlueZBleDevice::HasService(const char* serviceUuid) {
    return serviceUuid != nullptr && link_.HasService(serviceUuid);
}

std::vector<uint8_t> BlueZBleDevice::SendSmpCommand(const uint8_t* /*frame*/, uint32_t /*length*/,
                                                    uint32_t /*timeoutMs*/) {
    ThrowNotAvailable("SendSmpCommand");
}

std::vector<uint8_t> BlueZBleDevice::SendNusCommand(const uint8_t* /*request*/, uint32_t /*length*/,
                                                    uint32_t /*timeoutMs*/) {
    ThrowNotAvailable("SendNusCommand");
}

void BlueZBleDevice::RegisterNusDataCallback(
    std::function<void(const uint8_t* data, uint32_t length)> /*callback*/) {
    ThrowNotAvailable("RegisterNusDataCallback");
}

int BlueZBleDevice::SetActiveChannelCount(uint8_t /*channelCount*/) {
    ThrowNotAvailable("SetActiveChannelCount");
}

int BlueZBleDevice::SetActiveLayout(uint8_t /*channelCount*/, uint16_t /*framesPerNotification*/,
                                    uint8_t /*bytesPerSample*/, bool /*littleEndian*/,
                                    uint16_t /*samplingRate*/) {
    ThrowNotAvailable("SetActiveLayout");
}

}  // namespace Qelt::BLE
