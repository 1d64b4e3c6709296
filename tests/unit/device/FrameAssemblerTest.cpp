// From sample notifications to delivered frames: scatter, hold, counter
// rewriting, the battery and validity columns, gap filling, dropped
// notifications and batching.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "api/ApiException.h"
#include "device/FrameAssembler.h"
#include "protocol/QeltLegacyProtocolHandler.h"
#include "protocol/QeltNusProtocolHandler.h"

using namespace Qelt::BLE;
using testing::ElementsAre;
using testing::ElementsAreArray;

namespace {

using Frame = std::vector<float>;

constexpr QELTBLE_HANDLE kHandle = 7;
constexpr uint8_t kBattery = 80;
constexpr float kValid = 1.0f;
constexpr float kSynthesised = 0.0f;

// What the application's callbacks received.
struct Delivered {
    std::vector<Frame> frames;
    // One entry per batched call: its frames.
    std::vector<std::vector<Frame>> batches;
    int throwsLeft = 0;
};
Delivered delivered;

void OnFrame(QELTBLE_HANDLE handle, const float* values, uint32_t width) {
    EXPECT_EQ(handle, kHandle);
    delivered.frames.emplace_back(values, values + width);
    if (delivered.throwsLeft > 0) {
        --delivered.throwsLeft;
        throw std::runtime_error("application failure");
    }
}

void OnBatch(QELTBLE_HANDLE handle, const float* values, uint32_t frames, uint32_t width) {
    EXPECT_EQ(handle, kHandle);
    std::vector<Frame> batch;
    for (uint32_t f = 0; f < frames; ++f) {
        batch.emplace_back(values + f * width, values + (f + 1) * width);
    }
    delivered.batches.push_back(std::move(batch));
}

// Samples as 24-bit big-endian counts, one per payload slot.
std::string Payload(const std::vector<int32_t>& samples) {
    std::string payload;
    for (const int32_t sample : samples) {
        const auto bits = static_cast<uint32_t>(sample);
        payload.push_back(static_cast<char>(bits >> 16));
        payload.push_back(static_cast<char>(bits >> 8));
        payload.push_back(static_cast<char>(bits));
    }
    return payload;
}

struct Configuration {
    QELTBLE_AMPLIFIER_CONFIGURATION amplifier{};
    ChannelMap channels;
    FilterMap filters;
    PayloadLayout layout;
};

// A legacy configuration: channels 1.. with the given types and scale 1,
// and the given layout of 3-byte slots.
Configuration Legacy(const std::vector<uint8_t>& types, PayloadLayout layout,
                     uint16_t samplingRate = 256) {
    Configuration c;
    for (uint16_t id = 1; id <= types.size(); ++id) {
        c.channels[id] = {id, types[id - 1], static_cast<uint8_t>(id), 1.0f};
    }
    c.layout = std::move(layout);
    c.amplifier.samplingRate = samplingRate;
    c.amplifier.channelCount = static_cast<uint16_t>(types.size());
    c.amplifier.channelConfigCount = static_cast<uint16_t>(types.size());
    c.amplifier.payloadConfigCount = static_cast<uint16_t>(c.layout.size());
    c.amplifier.payloadSize = static_cast<uint16_t>(3 * c.layout.size());
    return c;
}

// Channel 1 (EEG) in every one of four frames, the counter (channel 2) in
// frame 0 only: slots e0, counter, e1, e2, e3.
Configuration CounterLayout(uint16_t samplingRate = 256) {
    return Legacy({1, QELTBLE_CHANNEL_TYPE_COUNTER}, {{1, 0}, {2, 0}, {1, 1}, {1, 2}, {1, 3}},
                  samplingRate);
}

std::string CounterPayload(int32_t counter, int32_t firstSample = 100) {
    return Payload({firstSample, counter, firstSample + 1, firstSample + 2, firstSample + 3});
}

std::vector<float> Column(const std::vector<Frame>& frames, size_t column) {
    std::vector<float> values;
    for (const Frame& frame : frames) {
        values.push_back(frame.at(column));
    }
    return values;
}

class FrameAssemblerTest : public testing::Test {
protected:
    FrameAssemblerTest() : assembler_([this] { return handle_(); }) { delivered = Delivered{}; }

    void Configure(IProtocolHandler& handler, const Configuration& c) {
        assembler_.Configure(handler, c.amplifier, c.channels, c.filters, c.layout);
    }

    // The code of the ApiException that processing `payload` throws, or 0.
    int32_t ProcessCode(const std::string& payload) {
        try {
            assembler_.Process(payload, kBattery);
        } catch (const ApiException& e) {
            lastMessage_ = e.what();
            return e.code;
        }
        return 0;
    }

    std::function<QELTBLE_HANDLE()> handle_ = [] { return kHandle; };
    FrameAssembler assembler_;
    QeltLegacyProtocolHandler legacy_;
    QeltNusProtocolHandler nus_;
    std::string lastMessage_;
};

}  // namespace

TEST_F(FrameAssemblerTest, NusDefaultLayoutGivesOneFrameOfSampleBatteryAndValidity) {
    Configuration c;
    c.amplifier = {256, 1, 7.5f, 3, 1, 1, 0};
    c.channels[1] = {1, 1, 1, 1.0f};
    c.layout = {{1, 0}};
    Configure(nus_, c);
    EXPECT_EQ(assembler_.FramesPerNotification(), 1);
    EXPECT_EQ(assembler_.FrameWidth(), 3u);
    EXPECT_EQ(assembler_.RingSize(), 64u);

    assembler_.SetFrameCallback(&OnFrame);
    assembler_.Process(std::string("\x80\x00\x01", 3), kBattery);
    assembler_.Process(std::string("\x00\x00\x2A", 3), 79);
    EXPECT_THAT(delivered.frames,
                ElementsAre(Frame{-8388607.0f, 80.0f, kValid}, Frame{42.0f, 79.0f, kValid}));
}

TEST_F(FrameAssemblerTest, ChannelsSampledLessOftenRepeatTheirLastSample) {
    // Channel 1 in four frames, channel 2 only in frame 0.
    Configure(legacy_, Legacy({1, 1}, {{1, 0}, {2, 0}, {1, 1}, {1, 2}, {1, 3}}));
    ASSERT_EQ(assembler_.FramesPerNotification(), 4);
    assembler_.SetFrameCallback(&OnFrame);
    assembler_.Process(Payload({10, -20, 11, 12, 13}), kBattery);
    EXPECT_THAT(delivered.frames,
                ElementsAre(Frame{10, -20, 80, kValid}, Frame{11, -20, 80, kValid},
                            Frame{12, -20, 80, kValid}, Frame{13, -20, 80, kValid}));
}

TEST_F(FrameAssemblerTest, CounterBecomesAPerFrameCounterAndGapsAreFilled) {
    Configure(legacy_, CounterLayout());
    assembler_.SetFrameCallback(&OnFrame);
    assembler_.Process(CounterPayload(9), kBattery);
    delivered.frames.clear();

    assembler_.Process(CounterPayload(10, 100), kBattery);
    assembler_.Process(CounterPayload(11, 200), kBattery);
    EXPECT_THAT(Column(delivered.frames, 1), ElementsAre(37, 38, 39, 40, 41, 42, 43, 44));
    EXPECT_THAT(Column(delivered.frames, 3), ElementsAre(1, 1, 1, 1, 1, 1, 1, 1));

    // Counter 13 after 11: one notification (four frames) missing.
    delivered.frames.clear();
    assembler_.Process(CounterPayload(13, 300), 75);
    ASSERT_EQ(delivered.frames.size(), 8u);
    // The synthesised frames copy the last frame received, counting on.
    for (int m = 0; m < 4; ++m) {
        EXPECT_EQ(delivered.frames[m], (Frame{203, 45.0f + m, 80, kSynthesised})) << m;
    }
    EXPECT_THAT(Column(delivered.frames, 1), ElementsAre(45, 46, 47, 48, 49, 50, 51, 52));
    EXPECT_EQ(delivered.frames[4], (Frame{300, 49, 75, kValid}));
}

TEST_F(FrameAssemblerTest, GapsAreFilledOnlyFromOneToTheSamplingRate) {
    struct Case {
        const char* what;
        uint16_t samplingRate;
        int32_t first;
        int32_t second;
        size_t synthesised;
    };
    // Frame counters: (c - 1) * 4 + 1 ... (c - 1) * 4 + 4.
    const Case cases[] = {
        {"next notification", 256, 10, 11, 0},
        {"one lost notification", 256, 10, 12, 4},
        {"gap equal to the limit", 8, 10, 13, 8},
        {"gap beyond the limit", 8, 10, 14, 0},
        {"repeated counter", 256, 10, 10, 0},
        {"counter went backwards", 256, 10, 9, 0},
        {"no sampling rate: gap equal to 1000", 0, 10, 261, 1000},
        {"no sampling rate: beyond 1000", 0, 10, 262, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        delivered = Delivered{};
        Configure(legacy_, CounterLayout(c.samplingRate));
        assembler_.SetFrameCallback(&OnFrame);
        assembler_.Process(CounterPayload(c.first), kBattery);
        delivered.frames.clear();
        assembler_.Process(CounterPayload(c.second), kBattery);
        ASSERT_EQ(delivered.frames.size(), c.synthesised + 4);
        for (size_t i = 0; i < delivered.frames.size(); ++i) {
            EXPECT_EQ(delivered.frames[i][3], i < c.synthesised ? kSynthesised : kValid) << i;
        }
    }
}

TEST_F(FrameAssemblerTest, FirstNotificationFillsFromCounterZero) {
    Configure(legacy_, CounterLayout());
    assembler_.SetFrameCallback(&OnFrame);
    // Counter 2: frames 5 to 8, preceded by frames 1 to 4 built from zeros.
    assembler_.Process(CounterPayload(2), kBattery);
    ASSERT_EQ(delivered.frames.size(), 8u);
    EXPECT_EQ(delivered.frames[0], (Frame{0, 1, 0, kSynthesised}));
    EXPECT_THAT(Column(delivered.frames, 1), ElementsAre(1, 2, 3, 4, 5, 6, 7, 8));
}

TEST_F(FrameAssemblerTest, LayoutOutsideTheFrameDropsEveryNotification) {
    struct Case {
        const char* what;
        uint16_t channelId;
    };
    // Three channels make frames of width 5; channel 4 would be the battery
    // column. Records exist for the channels named, so the conversion
    // itself succeeds.
    const Case cases[] = {{"channel of the battery column", 4}, {"channel 0", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        delivered = Delivered{};
        Configuration config = Legacy({1, 1, 1}, {{1, 0}, {c.channelId, 0}});
        config.channels[c.channelId] = {c.channelId, 1, 0, 1.0f};
        Configure(legacy_, config);
        assembler_.SetFrameCallback(&OnFrame);
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(ProcessCode(Payload({1, 2})), -2);
            EXPECT_EQ(lastMessage_, "Payload index out of range.");
        }
        EXPECT_TRUE(delivered.frames.empty());
    }
}

TEST_F(FrameAssemblerTest, DroppedNotificationLeavesTheStreamGoing) {
    Configure(legacy_, CounterLayout());
    assembler_.SetFrameCallback(&OnFrame);
    assembler_.Process(CounterPayload(10), kBattery);
    delivered.frames.clear();

    // One byte short, then one too many: both dropped.
    std::string payload = CounterPayload(11);
    EXPECT_EQ(ProcessCode(payload.substr(0, payload.size() - 1)), -2);
    EXPECT_EQ(lastMessage_, "Invalid payload size.");
    EXPECT_EQ(ProcessCode(payload + '\0'), -2);
    EXPECT_TRUE(delivered.frames.empty());

    // The gap is measured against the last complete notification.
    assembler_.Process(CounterPayload(11), kBattery);
    EXPECT_THAT(Column(delivered.frames, 1), ElementsAre(41, 42, 43, 44));
}

TEST_F(FrameAssemblerTest, FailedHandleLookupDropsTheRestOfTheNotification) {
    Configure(legacy_, CounterLayout());
    assembler_.SetFrameCallback(&OnFrame);
    assembler_.Process(CounterPayload(10), kBattery);
    handle_ = []() -> QELTBLE_HANDLE { throw ApiException("Device not found.", 1); };
    EXPECT_EQ(ProcessCode(CounterPayload(11)), 1);
    handle_ = [] { return kHandle; };
    // Nothing of counter 11 was taken as received: it is filled now.
    delivered.frames.clear();
    assembler_.Process(CounterPayload(12), kBattery);
    EXPECT_THAT(Column(delivered.frames, 3), ElementsAre(0, 0, 0, 0, 1, 1, 1, 1));
}

TEST_F(FrameAssemblerTest, ApplicationFailuresDoNotStopDelivery) {
    Configure(legacy_, CounterLayout());
    assembler_.SetFrameCallback(&OnFrame);
    delivered.throwsLeft = 2;
    assembler_.Process(CounterPayload(1), kBattery);
    assembler_.Process(CounterPayload(2), kBattery);
    EXPECT_EQ(delivered.frames.size(), 8u);
    EXPECT_THAT(Column(delivered.frames, 3), ElementsAre(1, 1, 1, 1, 1, 1, 1, 1));
}

TEST_F(FrameAssemblerTest, BatchesCollectTheFramesPerCallback) {
    Configure(legacy_, Legacy({1}, {{1, 0}}));
    for (const uint32_t perCallback : {1u, 4u, 64u}) {
        SCOPED_TRACE(perCallback);
        delivered = Delivered{};
        assembler_.SetFramesPerCallback(perCallback);
        assembler_.SetBatchedCallback(&OnBatch);
        for (int32_t i = 0; i < 128; ++i) {
            assembler_.Process(Payload({i}), kBattery);
            // A batch is delivered exactly when it is full.
            ASSERT_EQ(delivered.batches.size(), (i + 1) / perCallback) << i;
        }
        int32_t sample = 0;
        for (const auto& batch : delivered.batches) {
            ASSERT_EQ(batch.size(), perCallback);
            for (const Frame& frame : batch) {
                EXPECT_EQ(frame, (Frame{static_cast<float>(sample++), 80, kValid}));
            }
        }
    }
}

TEST_F(FrameAssemblerTest, FramesPerCallbackChangesTakeEffectAtTheNextFrame) {
    Configure(legacy_, Legacy({1}, {{1, 0}}));
    assembler_.SetFramesPerCallback(4);
    assembler_.SetBatchedCallback(&OnBatch);
    for (int32_t i = 0; i < 3; ++i) {
        assembler_.Process(Payload({i}), kBattery);
    }
    // Three frames collected; with 2 per callback the next frame completes a
    // batch of four.
    assembler_.SetFramesPerCallback(2);
    assembler_.Process(Payload({3}), kBattery);
    assembler_.Process(Payload({4}), kBattery);
    assembler_.Process(Payload({5}), kBattery);
    ASSERT_EQ(delivered.batches.size(), 2u);
    EXPECT_EQ(delivered.batches[0].size(), 4u);
    EXPECT_EQ(delivered.batches[1].size(), 2u);

    for (const uint32_t invalid : {0u, 65u}) {
        try {
            assembler_.SetFramesPerCallback(invalid);
            ADD_FAILURE() << invalid << " accepted";
        } catch (const ApiException& e) {
            EXPECT_EQ(e.code, 4);
            EXPECT_STREQ(e.what(), "Frames per callback must be between 1 and 64.");
        }
    }
    EXPECT_EQ(assembler_.FramesPerCallback(), 2u);
}

TEST_F(FrameAssemblerTest, EachRegistrationReplacesTheOtherKind) {
    Configure(legacy_, Legacy({1}, {{1, 0}}));
    assembler_.SetFramesPerCallback(2);
    assembler_.SetBatchedCallback(&OnBatch);
    assembler_.Process(Payload({1}), kBattery);

    assembler_.SetFrameCallback(&OnFrame);
    assembler_.Process(Payload({2}), kBattery);
    EXPECT_TRUE(delivered.batches.empty());
    EXPECT_EQ(delivered.frames.size(), 1u);

    // A new batched registration starts an empty batch: frame 1 is gone.
    assembler_.SetBatchedCallback(&OnBatch);
    assembler_.Process(Payload({3}), kBattery);
    assembler_.Process(Payload({4}), kBattery);
    ASSERT_EQ(delivered.batches.size(), 1u);
    EXPECT_THAT(Column(delivered.batches[0], 0), ElementsAre(3, 4));
    EXPECT_EQ(delivered.frames.size(), 1u);

    assembler_.SetBatchedCallback(nullptr);
    EXPECT_FALSE(assembler_.HasCallback());
    assembler_.Process(Payload({5}), kBattery);
    EXPECT_EQ(delivered.batches.size(), 1u);
}

TEST_F(FrameAssemblerTest, NotificationsAreIgnoredOnceTheBuffersAreFreed) {
    Configure(legacy_, Legacy({1}, {{1, 0}}));
    assembler_.SetFrameCallback(&OnFrame);
    assembler_.Free();
    EXPECT_EQ(assembler_.RingSize(), 0u);
    assembler_.Process(Payload({1}), kBattery);
    EXPECT_TRUE(delivered.frames.empty());
}
