// Derives the inputs of a sample conversion from fuzz input bytes: a payload
// layout, an amplifier record, an output count and a payload. Most inputs are
// kept close to consistent (the layout fits the payload, the payload has the
// announced size) so that the conversion itself runs, and some are anything.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "protocol/IProtocolHandler.h"

namespace Qelt::BLE::Fuzz {

struct ConversionInput {
    QELTBLE_AMPLIFIER_CONFIGURATION amplifier{};
    PayloadLayout layout;
    uint16_t count = 0;
    std::string payload;
};

// Mostly small ids, so that layouts and channel maps meet; sometimes any.
inline uint16_t ConsumeChannelId(FuzzedDataProvider& provider) {
    return provider.ConsumeBool() ? provider.ConsumeIntegralInRange<uint16_t>(0, 70)
                                  : provider.ConsumeIntegral<uint16_t>();
}

inline ConversionInput ConsumeConversionInput(FuzzedDataProvider& provider,
                                              std::size_t sampleWidth) {
    ConversionInput input;
    const auto entries = provider.ConsumeIntegralInRange<std::size_t>(0, 300);
    for (std::size_t i = 0; i < entries; ++i) {
        input.layout.push_back({ConsumeChannelId(provider), provider.ConsumeIntegral<uint16_t>()});
    }

    const std::size_t fitting = std::min<std::size_t>(sampleWidth * entries, 0xFFFF);
    std::size_t payloadSize = fitting;
    switch (provider.ConsumeIntegralInRange<int>(0, 3)) {
        case 0:
            break;
        case 1:  // spare bytes after the last slot
            payloadSize = std::min<std::size_t>(
                fitting + provider.ConsumeIntegralInRange<std::size_t>(1, sampleWidth + 1), 0xFFFF);
            break;
        case 2:  // one slot too few for the layout
            payloadSize = fitting >= sampleWidth ? fitting - sampleWidth : 0;
            break;
        default:
            payloadSize = provider.ConsumeIntegral<uint16_t>();
            break;
    }
    input.amplifier.samplingRate = provider.ConsumeIntegral<uint16_t>();
    input.amplifier.channelCount = provider.ConsumeIntegral<uint16_t>();
    input.amplifier.payloadSize = static_cast<uint16_t>(payloadSize);
    input.amplifier.channelConfigCount = input.amplifier.channelCount;
    input.amplifier.payloadConfigCount = static_cast<uint16_t>(entries);

    input.count = static_cast<uint16_t>(payloadSize / sampleWidth);
    if (provider.ConsumeIntegralInRange<int>(0, 7) == 0) {
        input.count = provider.ConsumeIntegral<uint16_t>();
    }

    std::size_t length = payloadSize;
    if (provider.ConsumeIntegralInRange<int>(0, 7) == 0) {
        length = provider.ConsumeIntegralInRange<std::size_t>(0, payloadSize + 4);
    }
    input.payload = provider.ConsumeBytesAsString(length);
    input.payload.resize(length, '\0');
    return input;
}

}  // namespace Qelt::BLE::Fuzz
