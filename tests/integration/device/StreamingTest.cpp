// Streaming end to end against the simulator: the delivered values are the
// simulator's signal times the channel scale, to the bit; the battery and
// validity columns; the counter; gaps filled; a malformed notification
// dropped; batches of 1, 4 and 64 frames; the two callback kinds replacing
// each other.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "DeviceTestSupport.h"
#include "Simulator.h"
#include "qeltble.h"

using namespace QeltDeviceTest;
using QeltTest::Simulator;

namespace {

using Frame = std::vector<float>;

// The legacy amplifier's defaults: eight EEG channels of this scale, then
// the counter, then battery and validity; four frames per notification.
constexpr float kEegScale = 0.02235174f;
constexpr size_t kLegacyWidth = 11;
constexpr size_t kCounterColumn = 8;
constexpr size_t kBatteryColumn = 9;
constexpr size_t kValidityColumn = 10;
constexpr uint8_t kBattery = 87;

// The simulator's documented signal.
int32_t Raw(uint16_t channel, uint64_t sampleIndex) {
    return static_cast<int32_t>((1000u * channel + (2u * channel + 1) * sampleIndex) % 65536) -
           32768;
}

// Everything the data callbacks received, by kind.
class Received {
public:
    static Received& Get() {
        // Never destroyed: a late callback may still run while the process
        // exits.
        static Received* instance = new Received;
        return *instance;
    }

    static void OnFrame(QELTBLE_HANDLE handle, const float* values, uint32_t width) {
        Get().Add(handle, values, 1, width, false);
    }
    static void OnBatch(QELTBLE_HANDLE handle, const float* values, uint32_t frames,
                        uint32_t width) {
        Get().Add(handle, values, frames, width, true);
    }

    std::vector<Frame> Frames() {
        std::lock_guard lock(mutex_);
        return frames_;
    }
    size_t FrameCount() {
        std::lock_guard lock(mutex_);
        return frames_.size();
    }
    // Frames per call of the batched callback, in order.
    std::vector<uint32_t> BatchSizes() {
        std::lock_guard lock(mutex_);
        return batchSizes_;
    }
    size_t PerFrameCalls() {
        std::lock_guard lock(mutex_);
        return perFrameCalls_;
    }
    std::vector<QELTBLE_HANDLE> Handles() {
        std::lock_guard lock(mutex_);
        return handles_;
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        frames_.clear();
        batchSizes_.clear();
        perFrameCalls_ = 0;
    }

private:
    void Add(QELTBLE_HANDLE handle, const float* values, uint32_t frames, uint32_t width,
             bool batched) {
        std::lock_guard lock(mutex_);
        if (handles_.empty() || handles_.back() != handle) {
            handles_.push_back(handle);
        }
        for (uint32_t f = 0; f < frames; ++f) {
            frames_.emplace_back(values + f * width, values + (f + 1) * width);
        }
        if (batched) {
            batchSizes_.push_back(frames);
        } else {
            ++perFrameCalls_;
        }
    }

    std::mutex mutex_;
    std::vector<Frame> frames_;
    std::vector<uint32_t> batchSizes_;
    size_t perFrameCalls_ = 0;
    std::vector<QELTBLE_HANDLE> handles_;
};

Received& Data() {
    return Received::Get();
}

bool WaitForFrames(size_t count) {
    return WaitFor([count] { return Data().FrameCount() >= count; });
}

// A simulator with the default legacy amplifier, opened.
class StreamingTest : public testing::Test {
protected:
    void TearDown() override { QELTBLE_Shutdown(); }

    void Open(std::vector<std::string> options) {
        UseShortTimings();
        sim_ = std::make_unique<Simulator>(SimOptions(std::move(options)));
        ASSERT_EQ(QELTBLE_OpenDevice(serial_, &handle_), 0) << LastError();
        Data().Clear();
    }
    void OpenLegacy() {
        Open({"--amplifier", std::string(kLegacySerial) + ":legacy", "--set",
              "battery=" + std::to_string(kBattery)});
    }
    uint64_t Notifications() { return sim_->Counters()["notifications:" + std::string(serial_)]; }

    const char* serial_ = kLegacySerial;
    std::unique_ptr<Simulator> sim_;
    QELTBLE_HANDLE handle_ = 0;
};

// Every frame counts one on from the one before.
void ExpectConsecutiveCounters(const std::vector<Frame>& frames) {
    for (size_t i = 1; i < frames.size(); ++i) {
        ASSERT_EQ(frames[i][kCounterColumn], frames[i - 1][kCounterColumn] + 1.0f) << i;
    }
}

size_t Synthesised(const std::vector<Frame>& frames) {
    size_t count = 0;
    for (const Frame& frame : frames) {
        count += frame[kValidityColumn] == 0.0f ? 1 : 0;
    }
    return count;
}

}  // namespace

TEST_F(StreamingTest, LegacyFramesCarryTheSignalTimesTheScale) {
    OpenLegacy();
    ASSERT_EQ(QELTBLE_RegisterDataAvailableCallback(handle_, &Received::OnFrame), 0) << LastError();
    ASSERT_TRUE(WaitForFrames(64));
    const std::vector<Frame> frames = Data().Frames();
    EXPECT_THAT(Data().Handles(), testing::ElementsAre(handle_));
    for (size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE(i);
        const Frame& frame = frames[i];
        ASSERT_EQ(frame.size(), kLegacyWidth);
        // The stream starts with the subscription: frame i is sample i, and
        // the rewritten counter counts frames from 1.
        EXPECT_EQ(frame[kCounterColumn], static_cast<float>(i + 1));
        for (uint16_t channel = 1; channel <= 8; ++channel) {
            EXPECT_EQ(frame[channel - 1], static_cast<float>(Raw(channel, i)) * kEegScale)
                << "channel " << channel;
        }
        EXPECT_EQ(frame[kBatteryColumn], static_cast<float>(kBattery));
        EXPECT_EQ(frame[kValidityColumn], 1.0f);
    }
}

TEST_F(StreamingTest, NusFramesCarryTheRawCounts) {
    serial_ = kNusSerial;
    Open({"--amplifier", std::string(kNusSerial) + ":nus", "--set", "battery=42"});
    ASSERT_EQ(QELTBLE_RegisterDataAvailableCallback(handle_, &Received::OnFrame), 0) << LastError();
    ASSERT_TRUE(WaitForFrames(32));
    const std::vector<Frame> frames = Data().Frames();
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i], (Frame{static_cast<float>(Raw(1, i)), 42.0f, 1.0f})) << i;
    }
}

TEST_F(StreamingTest, LostAndMalformedNotificationsAreFilledAndTheStreamGoesOn) {
    OpenLegacy();
    ASSERT_EQ(QELTBLE_RegisterDataAvailableCallback(handle_, &Received::OnFrame), 0) << LastError();
    ASSERT_TRUE(WaitForFrames(16));
    sim_->DropNotifications(serial_, 2);
    ASSERT_TRUE(WaitFor([] { return Synthesised(Data().Frames()) == 8; }));
    sim_->SendWrongLengthPayload(serial_);
    ASSERT_TRUE(WaitFor([] { return Synthesised(Data().Frames()) == 12; }));
    const size_t delivered = Data().FrameCount();
    ASSERT_TRUE(WaitForFrames(delivered + 16));

    const std::vector<Frame> frames = Data().Frames();
    ExpectConsecutiveCounters(frames);
    EXPECT_EQ(Synthesised(frames), 12u);
    for (size_t i = 1; i < frames.size(); ++i) {
        if (frames[i][kValidityColumn] == 0.0f) {
            // A copy of the last frame received, counting on.
            Frame expected = frames[i - 1];
            expected[kCounterColumn] += 1.0f;
            expected[kValidityColumn] = 0.0f;
            EXPECT_EQ(frames[i], expected) << i;
        } else {
            // Received frames carry the signal of their own sample index.
            const auto sample = static_cast<uint64_t>(frames[i][kCounterColumn]) - 1;
            EXPECT_EQ(frames[i][0], static_cast<float>(Raw(1, sample)) * kEegScale) << i;
        }
    }
}

TEST_F(StreamingTest, BatchesHoldTheFramesPerCallback) {
    OpenLegacy();
    EXPECT_EQ(QELTBLE_SetFramesPerCallback(handle_, 0), 4);
    EXPECT_EQ(LastError(), "Frames per callback must be between 1 and 64.");
    EXPECT_EQ(QELTBLE_SetFramesPerCallback(handle_, 65), 4);

    ASSERT_EQ(QELTBLE_SetFramesPerCallback(handle_, 1), 0);
    ASSERT_EQ(QELTBLE_RegisterDataAvailableBatchedCallback(handle_, &Received::OnBatch), 0)
        << LastError();
    ASSERT_TRUE(WaitForFrames(8));
    ASSERT_EQ(QELTBLE_SetFramesPerCallback(handle_, 4), 0);
    ASSERT_TRUE(WaitFor([] { return Data().BatchSizes().back() == 4; }));
    ASSERT_TRUE(WaitFor([] { return Data().BatchSizes().size() >= 12; }));
    ASSERT_EQ(QELTBLE_SetFramesPerCallback(handle_, 64), 0);
    ASSERT_TRUE(WaitFor([] { return Data().BatchSizes().back() == 64; }));
    ASSERT_TRUE(WaitFor([] {
        const std::vector<uint32_t> sizes = Data().BatchSizes();
        return sizes.size() >= 2 && sizes[sizes.size() - 2] == 64;
    }));

    // Each setting in turn, the change taking effect at the next frame:
    // ones, then fours, then sixty-fours, nothing lost or repeated.
    const std::vector<uint32_t> sizes = Data().BatchSizes();
    size_t i = 0;
    for (const uint32_t expected : {1u, 4u, 64u}) {
        const size_t start = i;
        while (i < sizes.size() && sizes[i] == expected) {
            ++i;
        }
        EXPECT_GT(i, start) << "no batch of " << expected;
    }
    EXPECT_EQ(i, sizes.size());
    EXPECT_EQ(Data().PerFrameCalls(), 0u);
    ExpectConsecutiveCounters(Data().Frames());
    EXPECT_EQ(Data().Frames().front()[kCounterColumn], 1.0f);
}

TEST_F(StreamingTest, CallbackKindsReplaceEachOtherAndNullStopsTheStream) {
    OpenLegacy();
    ASSERT_EQ(QELTBLE_RegisterDataAvailableCallback(handle_, &Received::OnFrame), 0);
    ASSERT_TRUE(WaitForFrames(8));

    ASSERT_EQ(QELTBLE_RegisterDataAvailableBatchedCallback(handle_, &Received::OnBatch), 0);
    const size_t perFrame = Data().PerFrameCalls();
    ASSERT_TRUE(WaitFor([] { return Data().BatchSizes().size() >= 4; }));
    EXPECT_EQ(Data().PerFrameCalls(), perFrame);

    ASSERT_EQ(QELTBLE_RegisterDataAvailableCallback(handle_, &Received::OnFrame), 0);
    const size_t batches = Data().BatchSizes().size();
    ASSERT_TRUE(WaitFor([perFrame] { return Data().PerFrameCalls() >= perFrame + 8; }));
    EXPECT_EQ(Data().BatchSizes().size(), batches);
    // Default batches of four frames; every frame reached one of them.
    for (const uint32_t size : Data().BatchSizes()) {
        EXPECT_EQ(size, 4u);
    }
    ExpectConsecutiveCounters(Data().Frames());

    // Null stops the stream at the amplifier too.
    ASSERT_EQ(QELTBLE_RegisterDataAvailableCallback(handle_, nullptr), 0);
    const size_t frames = Data().FrameCount();
    std::this_thread::sleep_for(50ms);
    const uint64_t sent = Notifications();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(Notifications(), sent);
    EXPECT_EQ(Data().FrameCount(), frames);
}

TEST_F(StreamingTest, DiagnosticsGoToStandardErrorOnceWhenSwitchedOn) {
    ASSERT_EQ(setenv("QELTBLE_DEBUG_STREAM", "1", 1), 0);
    OpenLegacy();
    testing::internal::CaptureStderr();
    ASSERT_EQ(QELTBLE_RegisterDataAvailableCallback(handle_, &Received::OnFrame), 0);
    ASSERT_TRUE(WaitForFrames(8));
    for (int i = 0; i < 2; ++i) {
        const size_t synthesised = Synthesised(Data().Frames());
        sim_->SendWrongLengthPayload(serial_);
        ASSERT_TRUE(WaitFor([&] { return Synthesised(Data().Frames()) == synthesised + 4; }));
    }
    const std::string written = testing::internal::GetCapturedStderr();
    // The legacy amplifier's notifications: 33 slots of 3 bytes.
    EXPECT_EQ(written,
              "[qeltble] OnEEGAvailable: first EEG notification (99 bytes)\n"
              "[qeltble] OnEEGAvailable parse error (payload dropped): Invalid payload size.\n");
}
