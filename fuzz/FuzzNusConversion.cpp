// Runs the NUS conversion on a fuzzer-chosen sample format, amplifier record,
// layout, count and payload, and compares every outcome and every written
// float, bit for bit, with a plain reading of the conversion rules.

#include <fuzzer/FuzzedDataProvider.h>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "FuzzOutcome.h"
#include "FuzzedConversion.h"
#include "protocol/QeltNusProtocolHandler.h"

using namespace Qelt::BLE;
using namespace Qelt::BLE::Fuzz;

namespace {

constexpr uint32_t kUnwrittenBits = 0x7FC0DEAD;

Outcome Reference(const ConversionInput& in, std::size_t width, bool littleEndian, float* out) {
    if (in.payload.size() != in.amplifier.payloadSize) {
        return Failure("Invalid payload size.", -2);
    }
    if (in.count != in.amplifier.payloadSize / width) {
        return Failure("Invalid buffer size.", 3);
    }
    if (in.layout.size() > in.count) {
        return Failure("Payload configuration larger than buffer.", -2);
    }
    for (std::size_t i = 0; i < in.layout.size(); ++i) {
        const auto* b = reinterpret_cast<const unsigned char*>(in.payload.data()) + width * i;
        int64_t v = 0;
        for (std::size_t k = 0; k < width; ++k) {
            const std::size_t power = littleEndian ? k : width - 1 - k;
            v += static_cast<int64_t>(b[k]) << (8 * power);
        }
        if (width == 3 && (v & 0x800000) != 0) {
            v -= 16777216;
        }
        if (width == 4 && v >= 2147483648LL) {
            v -= 4294967296LL;
        }
        out[i] = static_cast<float>(static_cast<int32_t>(v));
    }
    return {};
}

std::unique_ptr<float[]> Unwritten(std::size_t count) {
    std::unique_ptr<float[]> floats(new float[count]);
    for (std::size_t i = 0; i < count; ++i) {
        floats[i] = std::bit_cast<float>(kUnwrittenBits);
    }
    return floats;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    FuzzedDataProvider provider(data, size);
    QeltNusProtocolHandler handler;

    // Now and then a width the handler must refuse, leaving the format alone.
    if (provider.ConsumeIntegralInRange<int>(0, 15) == 0) {
        const auto width = provider.ConsumeIntegral<uint8_t>();
        const Outcome refused = Observe([&] { handler.SetSampleFormat(width, true); });
        const bool valid = width == 3 || width == 4;
        RequireSame(refused, valid ? Outcome{} : Failure("Sample width must be 3 or 4 bytes.", 4),
                    "sample format");
        Require(handler.GetBytesPerChannel() == (valid ? width : 3), "width after SetSampleFormat");
    }
    const std::size_t width = provider.ConsumeBool() ? 3 : 4;
    const bool littleEndian = provider.ConsumeBool();
    handler.SetSampleFormat(static_cast<unsigned char>(width), littleEndian);
    const ConversionInput in = ConsumeConversionInput(provider, width);

    auto actual = Unwritten(in.count);
    auto expected = Unwritten(in.count);
    const Outcome outcome = Observe([&] {
        handler.ConvertPayload(in.payload, actual.get(), in.count, &in.amplifier, &in.layout);
    });
    RequireSame(outcome, Reference(in, width, littleEndian, expected.get()), "NUS conversion");
    Require(std::memcmp(actual.get(), expected.get(), sizeof(float) * in.count) == 0,
            "NUS conversion wrote other floats than the reference");
    return 0;
}
