#include "Amplifier.h"

#include <algorithm>

#include "ConfigRecords.h"

namespace QeltSim {

namespace {

using namespace AmplifierUuids;

Bytes TextValue(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

}  // namespace

Amplifier::Amplifier(PeerConfig config, SimContext& context)
    : Peer(std::move(config)),
      context_(context),
      stream_(context, Config(), Key()),
      burstTimer_(context.event),
      batteryTimer_(context.event),
      battery_(Config().amplifier.battery) {}

bool Amplifier::Missing(const std::string& uuid) const {
    const auto& missing = Config().amplifier.faults.missingCharacteristics;
    return std::find(missing.begin(), missing.end(), uuid) != missing.end();
}

GattProfile Amplifier::BuildProfile() {
    const AmplifierConfig& amplifier = Config().amplifier;
    GattProfile profile;
    AddGenericServices(profile);

    GattServiceDef information{Uuid16(0x180A), true, {}};
    const std::pair<uint16_t, std::string AmplifierConfig::*> strings[] = {
        {0x2A24, &AmplifierConfig::modelNumber},
        {0x2A25, &AmplifierConfig::serialNumber},
        {0x2A26, &AmplifierConfig::firmwareRevision},
        {0x2A27, &AmplifierConfig::hardwareRevision},
        {0x2A29, &AmplifierConfig::manufacturerName}};
    for (const auto& [uuid, field] : strings) {
        information.characteristics.push_back(
            {Uuid16(uuid), kRead,
             [this, field = field] {
                 const std::string& text = Config().amplifier.*field;
                 // The serial number string defaults to the name.
                 return TextValue(text.empty() && field == &AmplifierConfig::serialNumber ? Key()
                                                                                          : text);
             },
             nullptr, nullptr});
    }
    profile.push_back(std::move(information));

    GattServiceDef battery{Uuid16(0x180F), true, {}};
    battery.characteristics.push_back(
        {Uuid16(0x2A19), kRead | kNotify, [this] { return Bytes{battery_}; }, nullptr, nullptr});
    profile.push_back(std::move(battery));

    const bool both = amplifier.faults.offerBothServices;
    AddDataService(profile, amplifier.generation == Generation::Legacy || both);
    if (amplifier.generation == Generation::Nus || both) {
        AddUartService(profile);
    }

    GattServiceDef smp{kSmpService, true, {}};
    smp.characteristics.push_back(
        {kSmpCharacteristic, kWriteWithoutResponse | kNotify, nullptr, nullptr, nullptr});
    profile.push_back(std::move(smp));

    // Leave out what the scenario says is missing.
    for (auto& service : profile) {
        auto& list = service.characteristics;
        list.erase(
            std::remove_if(list.begin(), list.end(),
                           [this](const GattCharacteristicDef& c) { return Missing(c.uuid); }),
            list.end());
    }
    return profile;
}

void Amplifier::AddDataService(GattProfile& profile, bool withConfiguration) {
    GattServiceDef data{kDataService, true, {}};
    data.characteristics.push_back({kSamples, kNotify, nullptr, nullptr, [this](bool enabled) {
                                        if (enabled) {
                                            stream_.Start();
                                            batteryTimer_.Start(
                                                context_.timings.batteryIntervalUsec,
                                                [this] { OnBatteryTick(); });
                                        } else {
                                            stream_.Stop();
                                            batteryTimer_.Cancel();
                                        }
                                    }});
    if (withConfiguration) {
        data.characteristics.push_back({kAmplifierConfig, kRead,
                                        [this] { return AmplifierConfigValue(Config().amplifier); },
                                        nullptr, nullptr});
        const std::pair<const char*, RecordKind> bursts[] = {{kPayloadConfig, RecordKind::Payload},
                                                             {kChannelConfig, RecordKind::Channel},
                                                             {kFilterConfig, RecordKind::Filter}};
        for (const auto& [uuid, kind] : bursts) {
            data.characteristics.push_back(
                {uuid, kNotify, nullptr, nullptr, [this, uuid = uuid, kind = kind](bool enabled) {
                     if (enabled) {
                         QueueBurst(uuid, kind);
                     }
                 }});
        }
    }
    profile.push_back(std::move(data));
}

void Amplifier::AddUartService(GattProfile& profile) {
    GattServiceDef uart{kUartService, true, {}};
    uart.characteristics.push_back({kUartRx, kWrite | kWriteWithoutResponse, nullptr,
                                    [this](const Bytes& bytes) { OnUartWrite(bytes); }, nullptr});
    uart.characteristics.push_back({kUartTx, kNotify, nullptr, nullptr, nullptr});
    profile.push_back(std::move(uart));
}

void Amplifier::Attach(Notifier& link) {
    Peer::Attach(link);
    stream_.Attach(&link);
}

void Amplifier::Detach() {
    stream_.Stop();
    stream_.Attach(nullptr);
    burstTimer_.Cancel();
    batteryTimer_.Cancel();
    pendingBursts_.clear();
    uart_ = RequestAssembler();
    Peer::Detach();
}

void Amplifier::QueueBurst(const char* uuid, RecordKind kind) {
    // The records follow the StartNotify reply, as the peripheral starts
    // sending once its CCCD was written.
    pendingBursts_.emplace_back(uuid, kind);
    burstTimer_.Start(1000, [this] { SendBursts(); });
}

void Amplifier::SendBursts() {
    while (!pendingBursts_.empty() && link_ != nullptr) {
        const auto [uuid, kind] = pendingBursts_.front();
        pendingBursts_.pop_front();
        for (const Bytes& record : BurstRecords(Config().amplifier, kind)) {
            link_->Notify(uuid, record.data(), record.size());
        }
    }
}

void Amplifier::OnUartWrite(const Bytes& bytes) {
    for (const CommandRequest& request : uart_.Add(bytes)) {
        context_.counters.Add("commands:" + Key());
        // The amplifier acknowledges with the request's payload, status 0.
        const Bytes response = BuildResponseFrame(request.command, 0, request.payload);
        const size_t chunk = static_cast<size_t>(Mtu() - 3);
        for (size_t offset = 0; offset < response.size() && link_ != nullptr; offset += chunk) {
            const size_t size = std::min(chunk, response.size() - offset);
            link_->Notify(kUartTx, response.data() + offset, size);
        }
    }
}

void Amplifier::OnBatteryTick() {
    // The level drifts down by one percent a minute of streaming.
    const uint64_t ticksPerMinute = std::max<uint64_t>(
        1, 60'000'000 / std::max<uint64_t>(1, context_.timings.batteryIntervalUsec));
    if (++batteryTicks_ % ticksPerMinute == 0 && battery_ > 1) {
        --battery_;
    }
    if (link_ != nullptr) {
        link_->Notify(Uuid16(0x2A19), &battery_, 1);
    }
    batteryTimer_.Start(context_.timings.batteryIntervalUsec, [this] { OnBatteryTick(); });
}

}  // namespace QeltSim
