// Opening: the attempts of one open, the choice of protocol handler, the
// device information, the sample layout (synthesised for the NUS
// generation, read from a legacy amplifier's configuration
// characteristics), the battery level and the derived frame geometry.
#include <algorithm>
#include <chrono>
#include <iterator>
#include <thread>

#include "api/ApiException.h"
#include "device/BlueZBleDevice.h"
#include "device/DeviceInformation.h"
#include "protocol/QeltLegacyProtocolHandler.h"
#include "protocol/QeltNusProtocolHandler.h"
#include "qeltble.h"

namespace Qelt::BLE {

namespace {

// Device Information and Battery services and their characteristics.
constexpr const char* kDeviceInformationService = "180A";
constexpr const char* kModelNumber = "2A24";
constexpr const char* kSerialNumber = "2A25";
constexpr const char* kFirmwareRevision = "2A26";
constexpr const char* kHardwareRevision = "2A27";
constexpr const char* kManufacturerName = "2A29";
constexpr const char* kBatteryService = "180F";
constexpr const char* kBatteryLevel = "2A19";

// The NUS generation's layout until the application sets its own: one
// channel, one frame per notification.
constexpr uint16_t kNusDefaultSamplingRate = 256;
constexpr float kNusAuxValue = 7.5f;
constexpr uint8_t kEegChannelType = 1;

}  // namespace

void BlueZBleDevice::Open() {
    const unsigned attempts = timings_.openAttempts > 0 ? timings_.openAttempts : 1;
    for (unsigned attempt = 1;; ++attempt) {
        try {
            OpenAttempt();
            return;
        } catch (const ApiException&) {
            link_.TeardownConnection();
            ResetConfiguration();
            if (attempt >= attempts) {
                throw;
            }
        } catch (...) {
            // Anything but an ApiException (no memory, a system error) is not
            // worth another attempt.
            link_.TeardownConnection();
            FreeStreamingBuffers();
            throw;
        }
        std::this_thread::sleep_for(timings_.openRetryPause);
    }
}

void BlueZBleDevice::OpenAttempt() {
    link_.Connect(serial_);
    link_.DiscoverServices();
    if (handler_ == nullptr) {
        SelectHandlerFromServices();
    }
    const ProtocolUUIDs uuids = handler_->GetUUIDs();
    {
        std::lock_guard lock(configMutex_);
        uuids_ = uuids;
    }
    link_.GetCharacteristicPath(uuids.dataCharacteristic);
    link_.GetCharacteristicPath(kBatteryLevel);
    ReadDeviceInformation();
    if (handler_->UsesNusForConfig()) {
        link_.GetCharacteristicPath(kNusRxUuid);
        link_.GetCharacteristicPath(kNusTxUuid);
        UseNusDefaultLayout();
    } else {
        ReadLegacyConfiguration();
    }
    battery_ = handler_->ParseBatteryLevel(link_.Read(kBatteryService, kBatteryLevel));
    CompleteOpen();
}

void BlueZBleDevice::SelectHandlerFromServices() {
    // An amplifier offering both services speaks the NUS generation.
    if (link_.HasService(kNusServiceUuid)) {
        ownedHandler_ = std::make_unique<QeltNusProtocolHandler>();
    } else if (link_.HasService(kDataServiceUuid)) {
        ownedHandler_ = std::make_unique<QeltLegacyProtocolHandler>();
    } else {
        throw ApiException(kNoKnownServiceMessage, QELTBLE_ERROR_COMMUNICATION);
    }
    handler_ = ownedHandler_.get();
}

void BlueZBleDevice::ReadDeviceInformation() {
    // All five are read before any is stored.
    const std::string model = link_.Read(kDeviceInformationService, kModelNumber);
    const std::string serial = link_.Read(kDeviceInformationService, kSerialNumber);
    const std::string firmware = link_.Read(kDeviceInformationService, kFirmwareRevision);
    const std::string hardware = link_.Read(kDeviceInformationService, kHardwareRevision);
    const std::string manufacturer = link_.Read(kDeviceInformationService, kManufacturerName);
    std::lock_guard lock(infoMutex_);
    StoreText(deviceInfo_.modelNumber, model);
    StoreText(deviceInfo_.serialNumber, serial);
    StoreText(deviceInfo_.firmwareRevision, firmware);
    StoreText(deviceInfo_.hardwareRevision, hardware);
    StoreText(deviceInfo_.manufacturerName, manufacturer);
}

void BlueZBleDevice::UseNusDefaultLayout() {
    uint16_t samplingRate = 0;
    {
        std::lock_guard lock(infoMutex_);
        samplingRate = deviceInfo_.samplingRate;
    }
    std::lock_guard lock(configMutex_);
    amplifier_ = QELTBLE_AMPLIFIER_CONFIGURATION{
        .samplingRate = samplingRate != 0 ? samplingRate : kNusDefaultSamplingRate,
        .channelCount = 1,
        .auxValue = kNusAuxValue,
        .payloadSize = handler_->GetBytesPerChannel(),
        .channelConfigCount = 1,
        .payloadConfigCount = 1,
        .filterConfigCount = 0,
    };
    channels_.clear();
    channels_[1] = QELTBLE_CHANNEL_CONFIGURATION{
        .channelId = 1, .channelType = kEegChannelType, .channelNumber = 1, .scale = 1.0f};
    layout_.assign(1, QELTBLE_PAYLOADCHANNEL_CONFIGURATION{.channelId = 1, .sampleIndex = 0});
}

void BlueZBleDevice::ReadLegacyConfiguration() {
    ProtocolUUIDs uuids;
    {
        std::lock_guard lock(configMutex_);
        uuids = uuids_;
    }
    QELTBLE_AMPLIFIER_CONFIGURATION amplifier{};
    handler_->ParseAmplifierConfiguration(
        link_.Read(uuids.dataService, uuids.amplifierConfigCharacteristic), &amplifier);
    {
        std::lock_guard lock(configMutex_);
        amplifier_ = amplifier;
    }
    if (amplifier.channelConfigCount != 0 && handler_->RequiresChannelConfiguration()) {
        ReadConfigurationBurst(
            uuids.channelConfigCharacteristic,
            [this](const std::string& value) { OnChannelConfigAvailable(value); },
            [this] {
                channels_.clear();
                channelReceived_ = 0;
            },
            kChannelConfigurationMessage);
    }
    if (amplifier.payloadConfigCount != 0 && handler_->RequiresPayloadConfiguration()) {
        ReadConfigurationBurst(
            uuids.payloadConfigCharacteristic,
            [this](const std::string& value) { OnPayloadChannelConfigAvailable(value); },
            [this] {
                layout_.clear();
                payloadReceived_ = 0;
            },
            kPayloadConfigurationMessage);
    }
    if (amplifier.filterConfigCount != 0 && handler_->RequiresFilterConfiguration()) {
        ReadConfigurationBurst(
            uuids.filterConfigCharacteristic,
            [this](const std::string& value) { OnFilterChannelConfigAvailable(value); },
            [this] {
                filters_.clear();
                filterReceived_ = 0;
            },
            kFilterConfigurationMessage);
    }
}

void BlueZBleDevice::ReadConfigurationBurst(const std::string& characteristic,
                                            GattLink::NotificationHandler record,
                                            const std::function<void()>& reset,
                                            const char* failure) {
    {
        std::lock_guard lock(configMutex_);
        reset();
        burstDone_ = false;
    }
    // The amplifier answers a subscription by notifying every record of the
    // kind, one per notification.
    link_.Subscribe(characteristic, std::move(record));
    bool done = false;
    {
        std::unique_lock lock(configMutex_);
        done = configCv_.wait_for(lock, timings_.configurationWait, [this] { return burstDone_; });
    }
    link_.Unsubscribe(characteristic);
    if (!done) {
        throw ApiException(failure, QELTBLE_ERROR_COMMUNICATION);
    }
}

void BlueZBleDevice::OnChannelConfigAvailable(const std::string& value) noexcept {
    try {
        QELTBLE_CHANNEL_CONFIGURATION record{};
        handler_->ParseChannelConfiguration(value, &record);
        std::lock_guard lock(configMutex_);
        channels_.insert_or_assign(record.channelId, record);
        RecordArrived(channelReceived_, amplifier_.channelConfigCount);
    } catch (...) {
        // An undecodable record is ignored; the read then stays incomplete.
    }
}

void BlueZBleDevice::OnPayloadChannelConfigAvailable(const std::string& value) noexcept {
    try {
        QELTBLE_PAYLOADCHANNEL_CONFIGURATION record{};
        handler_->ParsePayloadChannelConfiguration(value, &record);
        std::lock_guard lock(configMutex_);
        layout_.push_back(record);
        RecordArrived(payloadReceived_, amplifier_.payloadConfigCount);
    } catch (...) {
        // An undecodable record is ignored; the read then stays incomplete.
    }
}

void BlueZBleDevice::OnFilterChannelConfigAvailable(const std::string& value) noexcept {
    try {
        QELTBLE_FILTERCHANNEL_CONFIGURATION record{};
        handler_->ParseFilterChannelConfiguration(value, &record);
        std::lock_guard lock(configMutex_);
        filters_.insert_or_assign(record.channelId, record);
        RecordArrived(filterReceived_, amplifier_.filterConfigCount);
    } catch (...) {
        // An undecodable record is ignored; the read then stays incomplete.
    }
}

void BlueZBleDevice::RecordArrived(uint16_t& received, uint16_t expected) {
    // Records are told apart only by kind: a repeated one counts as well.
    const bool complete = received + 1 >= expected;
    ++received;
    if (complete) {
        burstDone_ = true;
        configCv_.notify_one();
    }
}

void BlueZBleDevice::ResetConfiguration() {
    std::lock_guard lock(configMutex_);
    channels_.clear();
    filters_.clear();
    layout_.clear();
    channelReceived_ = 0;
    payloadReceived_ = 0;
    filterReceived_ = 0;
}

void BlueZBleDevice::CompleteOpen() {
    QELTBLE_AMPLIFIER_CONFIGURATION amplifier{};
    ChannelMap channels;
    FilterMap filters;
    PayloadLayout layout;
    QELTBLE_DEVICE_INFORMATION derived{};
    {
        std::lock_guard lock(configMutex_);
        FillDerivedInformation(derived, channels_, amplifier_);
        amplifier = amplifier_;
        channels = channels_;
        filters = filters_;
        layout = layout_;
    }
    {
        std::lock_guard lock(infoMutex_);
        std::copy(std::begin(derived.channelTypes), std::end(derived.channelTypes),
                  std::begin(deviceInfo_.channelTypes));
        deviceInfo_.numberOfAcquiredChannels = derived.numberOfAcquiredChannels;
        deviceInfo_.samplingRate = derived.samplingRate;
    }
    std::lock_guard lock(stateMutex_);
    assembler_.Configure(*handler_, amplifier, channels, filters, layout);
    connected_ = true;
}

void BlueZBleDevice::OnBattery(const std::string& value) noexcept {
    try {
        std::lock_guard lock(stateMutex_);
        if (connected_) {
            battery_ = handler_->ParseBatteryLevel(value);
        }
    } catch (...) {
        // An undecodable level leaves the last one in place.
    }
}

}  // namespace Qelt::BLE
