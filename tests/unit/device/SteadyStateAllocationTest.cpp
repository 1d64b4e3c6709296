// Once configured, turning a notification into frames allocates nothing:
// not for per-frame delivery, not for batches of any size up to 64, not for
// filling a gap. Counted through the global operator new of this binary.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "AllocationCounter.h"
#include "device/FrameAssembler.h"
#include "protocol/QeltLegacyProtocolHandler.h"

using namespace Qelt::BLE;

namespace {

void IgnoreFrame(QELTBLE_HANDLE, const float*, uint32_t) {}
void IgnoreBatch(QELTBLE_HANDLE, const float*, uint32_t, uint32_t) {}

// 32 EEG channels in four frames, the counter (channel 33) in frame 0.
struct Stream {
    QELTBLE_AMPLIFIER_CONFIGURATION amplifier{};
    ChannelMap channels;
    FilterMap filters;
    PayloadLayout layout;

    Stream() {
        for (uint16_t id = 1; id <= 33; ++id) {
            channels[id] = {id, static_cast<uint8_t>(id == 33 ? 5 : 1), 0, 0.5f};
        }
        for (uint16_t frame = 0; frame < 4; ++frame) {
            for (uint16_t id = 1; id <= 33; ++id) {
                if (id < 33 || frame == 0) {
                    layout.push_back({id, frame});
                }
            }
        }
        amplifier = {256,  33,
                     1.0f, static_cast<uint16_t>(3 * layout.size()),
                     33,   static_cast<uint16_t>(layout.size()),
                     0};
    }

    // Every slot 0x000001, but the counter.
    std::string Payload(uint32_t counter) const {
        std::string payload;
        for (const auto& slot : layout) {
            const uint32_t value = slot.channelId == 33 ? counter : 1;
            payload.push_back(static_cast<char>(value >> 16));
            payload.push_back(static_cast<char>(value >> 8));
            payload.push_back(static_cast<char>(value));
        }
        return payload;
    }
};

}  // namespace

TEST(SteadyStateAllocation, ProcessingANotificationAllocatesNothing) {
    QeltLegacyProtocolHandler handler;
    FrameAssembler assembler([] { return QELTBLE_HANDLE{1}; });
    const Stream stream;
    assembler.Configure(handler, stream.amplifier, stream.channels, stream.filters, stream.layout);
    std::string payloads[8];
    for (uint32_t i = 0; i < 8; ++i) {
        payloads[i] = stream.Payload(i + 1);
    }
    const std::string afterGap = stream.Payload(20);

    assembler.SetFrameCallback(&IgnoreFrame);
    uint64_t before = Bench::AllocationCount();
    for (const std::string& payload : payloads) {
        assembler.Process(payload, 90);
    }
    assembler.Process(afterGap, 90);  // 44 synthesised frames
    EXPECT_EQ(Bench::AllocationCount() - before, 0u) << "per-frame delivery";

    assembler.SetBatchedCallback(&IgnoreBatch);
    for (const uint32_t perCallback : {1u, 4u, 64u, 3u}) {
        assembler.SetFramesPerCallback(perCallback);
        before = Bench::AllocationCount();
        for (const std::string& payload : payloads) {
            assembler.Process(payload, 90);
        }
        EXPECT_EQ(Bench::AllocationCount() - before, 0u) << perCallback << " frames per batch";
    }
}
