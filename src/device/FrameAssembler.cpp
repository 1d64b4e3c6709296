#include "device/FrameAssembler.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <utility>

#include "api/ApiException.h"

namespace Qelt::BLE {

namespace {

constexpr int32_t kPayloadLayoutCode = QELTBLE_ERROR_PAYLOAD_LAYOUT;
constexpr int32_t kInvalidArgumentCode = QELTBLE_ERROR_INVALID_ARGUMENT;
// The largest gap filled when the amplifier reports no sampling rate.
constexpr uint32_t kDefaultGapLimit = 1000;

// Samples of each channel in one notification: 0 for every channel record,
// then the sample index + 1 of the channel's last layout entry.
std::map<uint16_t, uint16_t> SamplesPerNotification(const ChannelMap& channels,
                                                    const PayloadLayout& layout) {
    std::map<uint16_t, uint16_t> samples;
    for (const auto& entry : channels) {
        samples[entry.first] = 0;
    }
    for (const QELTBLE_PAYLOADCHANNEL_CONFIGURATION& slot : layout) {
        samples[slot.channelId] = static_cast<uint16_t>(slot.sampleIndex + 1);
    }
    return samples;
}

template <typename Callback, typename... Args>
void CallApplication(Callback callback, Args... args) {
    try {
        callback(args...);
    } catch (...) {
        // The application's failure must not reach the bus worker.
    }
}

}  // namespace

FrameAssembler::FrameAssembler(HandleSource handleSource)
    : handleSource_(std::move(handleSource)) {}

void FrameAssembler::Configure(IProtocolHandler& handler,
                               const QELTBLE_AMPLIFIER_CONFIGURATION& amplifier,
                               const ChannelMap& channels, const FilterMap& filters,
                               const PayloadLayout& layout) {
    handler_ = &handler;
    usesNus_ = handler.UsesNusForConfig();
    amplifier_ = amplifier;
    channels_ = channels;
    filters_ = filters;
    layout_ = layout;

    const std::map<uint16_t, uint16_t> samples = SamplesPerNotification(channels, layout);
    framesPerNotification_ = 0;
    for (const auto& entry : samples) {
        framesPerNotification_ = std::max(framesPerNotification_, entry.second);
    }
    const uint32_t frames = framesPerNotification_;
    ringSize_ = std::max(frames, kMinimumRingSize);
    frameWidth_ = static_cast<uint32_t>(amplifier.channelConfigCount) + 2;
    const uint32_t channelColumns = frameWidth_ - 2;

    slotTargets_.clear();
    layoutInRange_ = true;
    for (const QELTBLE_PAYLOADCHANNEL_CONFIGURATION& slot : layout) {
        if (slot.channelId == 0 || slot.channelId > channelColumns || slot.sampleIndex >= frames) {
            layoutInRange_ = false;
            slotTargets_.clear();
            break;
        }
        slotTargets_.push_back(slot.sampleIndex * frameWidth_ + slot.channelId - 1u);
    }

    holds_.clear();
    counterColumns_.clear();
    counterColumn_ = -1;
    for (uint32_t id = 1; id <= channelColumns; ++id) {
        const auto sampled = samples.find(static_cast<uint16_t>(id));
        const uint32_t n = sampled != samples.end() ? sampled->second : 0;
        if (n > 0 && n < frames) {
            holds_.push_back({id - 1, n - 1});
        }
        const auto record = channels.find(static_cast<uint16_t>(id));
        if (record != channels.end() && record->second.channelType == kCounterChannelType) {
            counterColumns_.push_back(id - 1);
            counterColumn_ = static_cast<int32_t>(id - 1);
        }
    }
    gapLimit_ = amplifier.samplingRate != 0 ? amplifier.samplingRate : kDefaultGapLimit;

    const size_t slots = std::max<size_t>(amplifier.payloadConfigCount, layout.size());
    payloadFloats_.assign(slots, 0.0f);
    current_.assign(static_cast<size_t>(ringSize_) * frameWidth_, 0.0f);
    previous_.assign(static_cast<size_t>(ringSize_) * frameWidth_, 0.0f);
    scratch_.assign(frameWidth_, 0.0f);
    if (batchedCallback_ != nullptr) {
        batch_.reserve(static_cast<size_t>(kMaxFramesPerCallback) * frameWidth_);
    }
}

void FrameAssembler::Free() {
    std::vector<float>().swap(payloadFloats_);
    std::vector<float>().swap(current_);
    std::vector<float>().swap(previous_);
    std::vector<float>().swap(scratch_);
    ringSize_ = 0;
}

void FrameAssembler::SetFrameCallback(QELTBLE_DATA_AVAILABLE_CALLBACK callback) {
    frameCallback_ = callback;
    batchedCallback_ = nullptr;
}

void FrameAssembler::SetBatchedCallback(QELTBLE_DATA_AVAILABLE_BATCHED_CALLBACK callback) {
    batchedCallback_ = callback;
    frameCallback_ = nullptr;
    batchCount_ = 0;
    if (callback == nullptr) {
        batch_.clear();
        return;
    }
    // Room for the largest batch, so that a later change of the frames per
    // callback allocates nothing while streaming.
    batch_.reserve(static_cast<size_t>(kMaxFramesPerCallback) * frameWidth_);
    batch_.resize(static_cast<size_t>(FramesPerCallback()) * frameWidth_);
}

void FrameAssembler::SetFramesPerCallback(uint32_t frames) {
    if (frames < 1 || frames > kMaxFramesPerCallback) {
        throw ApiException(kFramesPerCallbackMessage, kInvalidArgumentCode);
    }
    framesPerCallback_.store(frames);
}

void FrameAssembler::Process(const std::string& payload, uint8_t battery) {
    if (ringSize_ == 0 || handler_ == nullptr) {
        return;
    }
    const uint32_t frames = framesPerNotification_;
    const uint32_t width = frameWidth_;

    Convert(payload);
    if (!layoutInRange_) {
        throw ApiException(kPayloadIndexOutOfRangeMessage, kPayloadLayoutCode);
    }
    for (size_t slot = 0; slot < slotTargets_.size(); ++slot) {
        current_[slotTargets_[slot]] = payloadFloats_[slot];
    }
    // A channel sampled fewer times than there are frames repeats its last
    // sample.
    for (const Hold& hold : holds_) {
        const float last = CurrentFrame(hold.lastFrame)[hold.column];
        for (uint32_t frame = hold.lastFrame + 1; frame < frames; ++frame) {
            CurrentFrame(frame)[hold.column] = last;
        }
    }
    // The notification's counter becomes a per-frame sample counter.
    const auto framesF = static_cast<float>(frames);
    for (uint32_t frame = 0; frame < frames; ++frame) {
        float* values = CurrentFrame(frame);
        for (const uint32_t column : counterColumns_) {
            values[column] = (values[column] - 1.0f) * framesF + static_cast<float>(frame) + 1.0f;
        }
        values[width - 2] = static_cast<float>(battery);
        values[width - 1] = 1.0f;
    }
    FillGap();
    for (uint32_t frame = 0; frame < frames; ++frame) {
        std::memcpy(scratch_.data(), CurrentFrame(frame), width * sizeof(float));
        Deliver(scratch_.data());
    }
    std::memcpy(previous_.data(), current_.data(),
                static_cast<size_t>(frames) * width * sizeof(float));
}

void FrameAssembler::Convert(const std::string& payload) {
    const uint16_t count = amplifier_.payloadConfigCount;
    if (usesNus_) {
        handler_->ConvertPayload(payload, payloadFloats_.data(), count, &amplifier_, &layout_);
    } else {
        handler_->ConvertPayload(payload, payloadFloats_.data(), count, &amplifier_, &channels_,
                                 &filters_, &layout_);
    }
}

void FrameAssembler::FillGap() {
    const uint32_t frames = framesPerNotification_;
    if (counterColumn_ < 0 || frames == 0) {
        return;
    }
    const auto column = static_cast<uint32_t>(counterColumn_);
    const float* last = PreviousFrame(frames - 1);
    const double gap = static_cast<double>(CurrentFrame(0)[column] - last[column]) - 1.0;
    // Only whole gaps of 1 to the limit are filled: a repeated counter, a
    // counter that went backwards, a jump beyond the limit (and anything not
    // a number) fill nothing.
    if (!(gap >= 1.0 && gap < static_cast<double>(gapLimit_) + 1.0)) {
        return;
    }
    const auto missing = static_cast<uint32_t>(gap);
    for (uint32_t m = 0; m < missing; ++m) {
        std::memcpy(scratch_.data(), last, frameWidth_ * sizeof(float));
        scratch_[column] = last[column] + static_cast<float>(m) + 1.0f;
        scratch_[frameWidth_ - 1] = 0.0f;
        Deliver(scratch_.data());
    }
}

void FrameAssembler::Deliver(const float* frame) {
    if (frameCallback_ != nullptr) {
        const QELTBLE_HANDLE handle = handleSource_();
        CallApplication(frameCallback_, handle, frame, frameWidth_);
    } else if (batchedCallback_ != nullptr) {
        AddSampleToBatch(frame, frameWidth_);
    }
}

void FrameAssembler::AddSampleToBatch(const float* frame, uint32_t width) {
    // Frames of another width (from before a reopen that changed the
    // layout) cannot share a batch with these.
    if (batchCount_ > 0 && width != batchWidth_) {
        batchCount_ = 0;
    }
    batchWidth_ = width;
    const size_t offset = static_cast<size_t>(batchCount_) * width;
    if (batch_.size() < offset + width) {
        batch_.resize(offset + width, 0.0f);
    }
    std::memcpy(batch_.data() + offset, frame, width * sizeof(float));
    ++batchCount_;
    if (batchCount_ < FramesPerCallback()) {
        return;
    }
    const uint32_t count = batchCount_;
    batchCount_ = 0;
    if (batchedCallback_ != nullptr) {
        const QELTBLE_HANDLE handle = handleSource_();
        CallApplication(batchedCallback_, handle, static_cast<const float*>(batch_.data()), count,
                        width);
    }
}

}  // namespace Qelt::BLE
