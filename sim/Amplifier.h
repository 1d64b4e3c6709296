// A simulated amplifier: its GATT server (device information, battery, the
// data service with the sample characteristic and, for the legacy
// generation, the configuration characteristics; the UART service of the
// NUS generation; the SMP service), configuration bursts, command echoes and
// the sample stream.
#pragma once

#include <deque>
#include <memory>
#include <string>

#include "CommandFrame.h"
#include "ConfigRecords.h"
#include "Peer.h"
#include "SampleStream.h"
#include "SimContext.h"
#include "Timer.h"

namespace QeltSim {

namespace AmplifierUuids {
inline constexpr const char* kDataService = "b5211405-449f-4ba0-a651-b887924b81e8";
inline constexpr const char* kSamples = "b5211406-449f-4ba0-a651-b887924b81e8";
inline constexpr const char* kAmplifierConfig = "b5211407-449f-4ba0-a651-b887924b81e8";
inline constexpr const char* kPayloadConfig = "b5211408-449f-4ba0-a651-b887924b81e8";
inline constexpr const char* kChannelConfig = "b5211409-449f-4ba0-a651-b887924b81e8";
inline constexpr const char* kFilterConfig = "b521140a-449f-4ba0-a651-b887924b81e8";
inline constexpr const char* kUartService = "6e400001-b5a3-f393-e0a9-e50e24dcca9e";
inline constexpr const char* kUartRx = "6e400002-b5a3-f393-e0a9-e50e24dcca9e";
inline constexpr const char* kUartTx = "6e400003-b5a3-f393-e0a9-e50e24dcca9e";
inline constexpr const char* kSmpService = "8d53dc1d-1db7-4cd3-868b-8a527460aa84";
inline constexpr const char* kSmpCharacteristic = "da2e7828-fbce-4e01-ae9e-261174997c48";
}  // namespace AmplifierUuids

class Amplifier : public Peer {
public:
    Amplifier(PeerConfig config, SimContext& context);

    GattProfile BuildProfile() override;
    void Attach(Notifier& link) override;
    void Detach() override;
    void ConfigChanged() override { battery_ = Config().amplifier.battery; }

    SampleStream& Stream() { return stream_; }
    uint8_t BatteryLevel() const { return battery_; }

private:
    void AddDataService(GattProfile& profile, bool withConfiguration);
    void AddUartService(GattProfile& profile);
    void QueueBurst(const char* uuid, RecordKind kind);
    void SendBursts();
    void OnUartWrite(const Bytes& bytes);
    void OnBatteryTick();
    bool Missing(const std::string& uuid) const;

    SimContext& context_;
    SampleStream stream_;
    Timer burstTimer_;
    Timer batteryTimer_;
    std::deque<std::pair<std::string, RecordKind>> pendingBursts_;
    RequestAssembler uart_;
    uint8_t battery_;
    uint32_t batteryTicks_ = 0;
};

}  // namespace QeltSim
