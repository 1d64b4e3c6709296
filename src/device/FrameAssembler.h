// Turns sample notifications into the frames the application receives. One
// notification is converted by the protocol handler into one float per
// payload slot; the floats are scattered into F frames (one value per
// channel at one sampling instant), channels sampled fewer than F times
// repeat their last sample, a sample counter channel becomes a per-frame
// counter, every frame gets a battery column and a validity column, and a
// gap that the counter reveals is filled with synthesised frames. Frames go
// to the per-frame callback, or are collected for the batched callback.
//
// It needs no bus. Its owner serialises every call (the device holds its
// state lock); only SetFramesPerCallback may be called at any time. Once
// configured, processing a notification allocates nothing.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "protocol/IProtocolHandler.h"
#include "qeltble.h"

namespace Qelt::BLE {

inline constexpr const char* kPayloadIndexOutOfRangeMessage = "Payload index out of range.";
inline constexpr const char* kFramesPerCallbackMessage =
    "Frames per callback must be between 1 and 64.";

class FrameAssembler {
public:
    // The handle passed to the application's callbacks, looked up for every
    // call; may throw, which drops the rest of the notification.
    using HandleSource = std::function<QELTBLE_HANDLE()>;

    static constexpr uint32_t kMinimumRingSize = 64;
    static constexpr uint32_t kMaxFramesPerCallback = 64;
    static constexpr uint32_t kDefaultFramesPerCallback = 4;
    static constexpr uint8_t kCounterChannelType = QELTBLE_CHANNEL_TYPE_COUNTER;

    explicit FrameAssembler(HandleSource handleSource);
    FrameAssembler(const FrameAssembler&) = delete;
    FrameAssembler& operator=(const FrameAssembler&) = delete;

    // Takes the configuration of an open and allocates every buffer, filled
    // with zeros, so the first notification fills a counter gap from 0.
    // `handler` must outlive the assembler's use of it.
    void Configure(IProtocolHandler& handler, const QELTBLE_AMPLIFIER_CONFIGURATION& amplifier,
                   const ChannelMap& channels, const FilterMap& filters,
                   const PayloadLayout& layout);
    // Releases the buffers; notifications are ignored until the next
    // Configure.
    void Free();

    // F: frames per notification, the largest sample index of a channel + 1.
    uint16_t FramesPerNotification() const { return framesPerNotification_; }
    // Frames the buffers hold: at least 64 and at least F; 0 when freed.
    uint32_t RingSize() const { return ringSize_; }
    // W: the channels, then the battery and the validity column.
    uint32_t FrameWidth() const { return frameWidth_; }

    // Each registration replaces the other kind. Registering a batched
    // callback starts an empty batch; registering null empties the buffer.
    void SetFrameCallback(QELTBLE_DATA_AVAILABLE_CALLBACK callback);
    void SetBatchedCallback(QELTBLE_DATA_AVAILABLE_BATCHED_CALLBACK callback);
    bool HasCallback() const { return frameCallback_ != nullptr || batchedCallback_ != nullptr; }

    // 1 to 64; anything else throws ApiException 4 and changes nothing. Takes
    // effect at the next frame collected.
    void SetFramesPerCallback(uint32_t frames);
    uint32_t FramesPerCallback() const { return framesPerCallback_.load(); }

    // Processes one notification with `battery` (percent) as the battery
    // column. Throws (ApiException -2 or 3 from the conversion or the
    // layout, or what the handle lookup throws) when the notification is
    // dropped; frames delivered before stay delivered, and the next
    // notification's gap is measured against the last complete one.
    void Process(const std::string& payload, uint8_t battery);

private:
    // A channel sampled fewer than F times per notification: its column and
    // the frame of its last sample.
    struct Hold {
        uint32_t column;
        uint32_t lastFrame;
    };

    float* CurrentFrame(uint32_t frame) { return current_.data() + frame * frameWidth_; }
    float* PreviousFrame(uint32_t frame) { return previous_.data() + frame * frameWidth_; }
    void Convert(const std::string& payload);
    void FillGap();
    void Deliver(const float* frame);
    void AddSampleToBatch(const float* frame, uint32_t width);

    HandleSource handleSource_;

    // Configuration of the open, with the plan derived from it.
    IProtocolHandler* handler_ = nullptr;
    bool usesNus_ = false;
    QELTBLE_AMPLIFIER_CONFIGURATION amplifier_{};
    ChannelMap channels_;
    FilterMap filters_;
    PayloadLayout layout_;
    uint16_t framesPerNotification_ = 0;
    uint32_t ringSize_ = 0;
    uint32_t frameWidth_ = 0;
    // Where each payload slot goes in the current frames; valid only when
    // every layout entry names a channel column and a frame of the
    // notification.
    std::vector<uint32_t> slotTargets_;
    bool layoutInRange_ = false;
    std::vector<Hold> holds_;
    std::vector<uint32_t> counterColumns_;
    int32_t counterColumn_ = -1;  // the last counter channel's column
    uint32_t gapLimit_ = 0;

    // Buffers.
    std::vector<float> payloadFloats_;
    std::vector<float> current_;   // ringSize frames of W floats
    std::vector<float> previous_;  // the frames of the last complete notification
    std::vector<float> scratch_;   // the frame handed to a callback

    // Delivery.
    QELTBLE_DATA_AVAILABLE_CALLBACK frameCallback_ = nullptr;
    QELTBLE_DATA_AVAILABLE_BATCHED_CALLBACK batchedCallback_ = nullptr;
    std::atomic<uint32_t> framesPerCallback_{kDefaultFramesPerCallback};
    std::vector<float> batch_;
    uint32_t batchCount_ = 0;
    uint32_t batchWidth_ = 0;
};

}  // namespace Qelt::BLE
