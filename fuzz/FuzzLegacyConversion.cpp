// Runs the legacy conversion on a fuzzer-chosen amplifier record, channel
// map, layout, count and payload, and compares every outcome and every
// written float, bit for bit, with a plain reading of the conversion rules.

#include <fuzzer/FuzzedDataProvider.h>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "FuzzOutcome.h"
#include "FuzzedConversion.h"
#include "protocol/QeltLegacyProtocolHandler.h"

using namespace Qelt::BLE;
using namespace Qelt::BLE::Fuzz;

namespace {

constexpr uint32_t kUnwrittenBits = 0x7FC0DEAD;

Outcome Reference(const ConversionInput& in, const ChannelMap& channels, float* out) {
    if (in.payload.size() != in.amplifier.payloadSize) {
        return Failure("Invalid payload size.", -2);
    }
    const std::size_t slots = in.amplifier.payloadSize / 3;
    if (in.count != slots) {
        return Failure("Invalid buffer size.", 3);
    }
    if (in.layout.size() > slots) {
        return Failure("Payload configuration larger than buffer.", -2);
    }
    for (std::size_t i = 0; i < in.layout.size(); ++i) {
        const auto channel = channels.find(in.layout[i].channelId);
        if (channel == channels.end()) {
            return Failure("Payload references unknown channel id.", -2);
        }
        const auto* b = reinterpret_cast<const unsigned char*>(in.payload.data()) + 3 * i;
        int32_t v = b[0] * 65536 + b[1] * 256 + b[2];
        if ((v & 0x800000) != 0) {
            v -= 16777216;
        }
        out[i] = static_cast<float>(v) * channel->second.scale;
    }
    return {};
}

std::unique_ptr<float[]> Unwritten(std::size_t count) {
    // Exactly count floats, so that a write past the end is caught.
    std::unique_ptr<float[]> floats(new float[count]);
    for (std::size_t i = 0; i < count; ++i) {
        floats[i] = std::bit_cast<float>(kUnwrittenBits);
    }
    return floats;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    FuzzedDataProvider provider(data, size);
    ChannelMap channels;
    const auto channelCount = provider.ConsumeIntegralInRange<int>(0, 70);
    for (int i = 0; i < channelCount; ++i) {
        const uint16_t id = ConsumeChannelId(provider);
        channels[id] = {id, provider.ConsumeIntegral<uint8_t>(),
                        provider.ConsumeIntegral<uint8_t>(),
                        std::bit_cast<float>(provider.ConsumeIntegral<uint32_t>())};
    }
    const FilterMap filters;
    const ConversionInput in = ConsumeConversionInput(provider, 3);

    auto actual = Unwritten(in.count);
    auto expected = Unwritten(in.count);
    QeltLegacyProtocolHandler handler;
    const Outcome outcome = Observe([&] {
        handler.ConvertPayload(in.payload, actual.get(), in.count, &in.amplifier, &channels,
                               &filters, &in.layout);
    });
    RequireSame(outcome, Reference(in, channels, expected.get()), "legacy conversion");
    Require(std::memcmp(actual.get(), expected.get(), sizeof(float) * in.count) == 0,
            "legacy conversion wrote other floats than the reference");
    return 0;
}
