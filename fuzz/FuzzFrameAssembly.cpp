// Feeds a run of sample notifications through the frame assembly of a
// device, with a fuzzer-chosen configuration as an amplifier could report it
// (channel records, payload layout, amplifier record, at most 62 channels)
// and payloads of any length and content. Every notification is either
// delivered or dropped with an ApiException; every delivered frame has the
// configured width and a validity of 0 or 1, and a notification delivers at
// most its frames plus a gap no larger than the limit.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzOutcome.h"
#include "device/FrameAssembler.h"
#include "protocol/QeltLegacyProtocolHandler.h"
#include "protocol/QeltNusProtocolHandler.h"

using namespace Qelt::BLE;
using namespace Qelt::BLE::Fuzz;

namespace {

constexpr uint16_t kMaxChannels = 62;

struct Delivery {
    uint32_t width = 0;
    uint64_t frames = 0;
};
Delivery delivery;

void CheckFrame(const float* values, uint32_t width) {
    Require(width == delivery.width, "frame of another width");
    const float validity = values[width - 1];
    Require(validity == 0.0f || validity == 1.0f, "validity neither 0 nor 1");
}

void OnFrame(QELTBLE_HANDLE, const float* values, uint32_t width) {
    CheckFrame(values, width);
    ++delivery.frames;
}

void OnBatch(QELTBLE_HANDLE, const float* values, uint32_t frames, uint32_t width) {
    Require(frames >= 1 && frames <= 64 + 64, "batch of an impossible size");
    for (uint32_t f = 0; f < frames; ++f) {
        CheckFrame(values + static_cast<size_t>(f) * width, width);
    }
    delivery.frames += frames;
}

// Mostly small, so that layouts, channels and counters meet; now and then
// anything (a large value costs large buffers and long gaps, so it is rare).
uint16_t SmallOrAny(FuzzedDataProvider& provider, uint16_t small) {
    return provider.ConsumeIntegralInRange<int>(0, 15) != 0
               ? provider.ConsumeIntegralInRange<uint16_t>(0, small)
               : provider.ConsumeIntegral<uint16_t>();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    FuzzedDataProvider provider(data, size);
    QeltLegacyProtocolHandler legacy;
    QeltNusProtocolHandler nus;
    const bool useNus = provider.ConsumeBool();
    if (useNus) {
        nus.SetSampleFormat(provider.ConsumeBool() ? 3 : 4, provider.ConsumeBool());
    }
    IProtocolHandler& handler = useNus ? static_cast<IProtocolHandler&>(nus) : legacy;
    const uint16_t width = handler.GetBytesPerChannel();

    QELTBLE_AMPLIFIER_CONFIGURATION amplifier{};
    amplifier.channelConfigCount = provider.ConsumeIntegralInRange<uint16_t>(0, kMaxChannels);
    amplifier.channelCount = amplifier.channelConfigCount;
    amplifier.samplingRate = SmallOrAny(provider, 300);
    ChannelMap channels;
    const auto records = provider.ConsumeIntegralInRange<int>(0, kMaxChannels + 2);
    for (int i = 0; i < records; ++i) {
        const uint16_t id = SmallOrAny(provider, kMaxChannels + 2);
        channels[id] = {id, static_cast<uint8_t>(provider.ConsumeBool() ? 5 : 1), 0,
                        provider.ConsumeFloatingPoint<float>()};
    }
    PayloadLayout layout;
    const auto slots = provider.ConsumeIntegralInRange<uint16_t>(0, 200);
    for (uint16_t i = 0; i < slots; ++i) {
        layout.push_back({SmallOrAny(provider, kMaxChannels + 2), SmallOrAny(provider, 8)});
    }
    amplifier.payloadConfigCount = provider.ConsumeBool() ? slots : SmallOrAny(provider, 200);
    amplifier.payloadSize = provider.ConsumeBool()
                                ? static_cast<uint16_t>(width * amplifier.payloadConfigCount)
                                : SmallOrAny(provider, 600);

    FrameAssembler assembler([] { return QELTBLE_HANDLE{1}; });
    assembler.Configure(handler, amplifier, channels, FilterMap{}, layout);
    delivery = Delivery{assembler.FrameWidth(), 0};
    if (provider.ConsumeBool()) {
        assembler.SetFrameCallback(&OnFrame);
    } else {
        assembler.SetFramesPerCallback(provider.ConsumeIntegralInRange<uint32_t>(1, 64));
        assembler.SetBatchedCallback(&OnBatch);
    }
    const uint64_t gapLimit = amplifier.samplingRate != 0 ? amplifier.samplingRate : 1000;
    const uint64_t perNotification = assembler.FramesPerNotification() + gapLimit;

    for (int notification = 0; notification < 8 && provider.remaining_bytes() > 0; ++notification) {
        std::string payload;
        if (provider.ConsumeBool()) {
            payload = provider.ConsumeBytesAsString(amplifier.payloadSize);
            payload.resize(amplifier.payloadSize, '\0');
        } else {
            payload = provider.ConsumeRandomLengthString(700);
        }
        const uint64_t before = delivery.frames;
        Observe([&] { assembler.Process(payload, provider.ConsumeIntegral<uint8_t>()); });
        // A batch may hold frames of earlier notifications.
        Require(delivery.frames - before <= perNotification + 64, "too many frames delivered");
    }
    return 0;
}
