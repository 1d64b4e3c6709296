#include "SampleStream.h"

#include "Amplifier.h"
#include "SampleSignal.h"

namespace QeltSim {

namespace {

// At most this many overdue notifications go out in one timer run; the
// rest follow in the next runs, so bus traffic is never starved.
constexpr uint64_t kMaxCatchUp = 256;
// While flooding, keep at most this many messages queued towards the bus.
constexpr uint64_t kFloodQueue = 256;
constexpr int64_t kCounterModulo = 1 << 23;

void PutSample(Bytes& out, int64_t value, uint8_t width, bool littleEndian) {
    const auto bits = static_cast<uint32_t>(value);
    for (uint8_t i = 0; i < width; ++i) {
        const unsigned shift = littleEndian ? 8u * i : 8u * (width - 1 - i);
        out.push_back(static_cast<uint8_t>(bits >> shift));
    }
}

}  // namespace

SampleStream::SampleStream(SimContext& context, const PeerConfig& config, const std::string& key)
    : context_(context), config_(config), key_(key), timer_(context.event) {}

void SampleStream::Start() {
    if (running_) {
        return;
    }
    running_ = true;
    index_ = 0;
    counter_ = 0;
    scheduleBase_ = 0;
    startUsec_ = Timer::Now();
    timer_.StartAt(DueTime(0), [this] { Tick(); });
}

void SampleStream::Stop() {
    running_ = false;
    flooding_ = false;
    timer_.Cancel();
}

uint64_t SampleStream::PeriodNumerator() const {
    // One notification every F / rate seconds.
    return static_cast<uint64_t>(config_.amplifier.framesPerNotification) * 1'000'000u;
}

uint64_t SampleStream::DueTime(uint64_t index) const {
    const uint64_t rate = config_.amplifier.samplingRate == 0 ? 1 : config_.amplifier.samplingRate;
    return startUsec_ + (index - scheduleBase_) * PeriodNumerator() / rate;
}

void SampleStream::Tick() {
    if (!running_ || flooding_) {
        return;
    }
    const uint64_t now = Timer::Now();
    for (uint64_t sent = 0; sent < kMaxCatchUp && DueTime(index_) <= now; ++sent) {
        SendNext();
    }
    timer_.StartAt(DueTime(index_), [this] { Tick(); });
}

void SampleStream::Flood(uint64_t count, uint64_t durationUsec) {
    if (!running_) {
        return;
    }
    flooding_ = true;
    floodLeft_ = count;
    floodUntil_ = durationUsec == 0 ? 0 : Timer::Now() + durationUsec;
    timer_.Start(0, [this] { FloodTick(); });
}

void SampleStream::FloodTick() {
    if (!running_ || !flooding_) {
        return;
    }
    sd_bus* bus = context_.tree.Bus();
    bool finished = false;
    for (int i = 0; i < 32 && !finished; ++i) {
        uint64_t queued = 0;
        sd_bus_get_n_queued_write(bus, &queued);
        if (queued >= kFloodQueue) {
            sd_bus_flush(bus);
            break;
        }
        SendNext();
        context_.counters.Add("flood:" + key_);
        if (floodLeft_ != 0 && --floodLeft_ == 0) {
            finished = true;
        }
        if (floodUntil_ != 0 && Timer::Now() >= floodUntil_) {
            finished = true;
        }
    }
    if (finished) {
        flooding_ = false;
        context_.counters.Add("floods-finished:" + key_);
        // The regular rate resumes from now on, without catching up.
        startUsec_ = Timer::Now();
        scheduleBase_ = index_;
        timer_.StartAt(DueTime(index_ + 1), [this] { Tick(); });
        return;
    }
    timer_.Start(0, [this] { FloodTick(); });
}

Bytes SampleStream::Encode(uint64_t index, int64_t counter, const StreamLayout& layout) const {
    Bytes out;
    out.reserve(layout.PayloadSize());
    const uint64_t firstSample = index * layout.framesPerNotification;
    for (const SampleSlot& slot : layout.slots) {
        const ChannelConfig& channel = config_.amplifier.channels[slot.channelId - 1];
        int64_t value = channel.type == 5
                            ? counter
                            : SignalValue(slot.channelId, firstSample + slot.sampleIndex);
        PutSample(out, value, layout.bytesPerSample, layout.littleEndian);
    }
    return out;
}

void SampleStream::SendNext() {
    const uint64_t index = index_++;
    if (repeatPending_ && counter_ > 0) {
        repeatPending_ = false;
    } else if (stepBackPending_ > 0) {
        counter_ -= stepBackPending_;
        stepBackPending_ = 0;
        if (counter_ < 1) {
            counter_ = 1;
        }
    } else {
        counter_ = counter_ % (kCounterModulo - 1) + 1;
    }
    if (dropPending_ > 0) {
        --dropPending_;
        context_.counters.Add("dropped:" + key_);
        return;
    }
    if (link_ == nullptr) {
        return;
    }
    const StreamLayout layout = LayoutOf(config_.amplifier);
    buffer_ = Encode(index, counter_, layout);
    if (wrongLengthPending_ && !buffer_.empty()) {
        wrongLengthPending_ = false;
        buffer_.pop_back();
    }
    if (link_->Notify(AmplifierUuids::kSamples, buffer_.data(), buffer_.size())) {
        context_.counters.Add("notifications:" + key_);
    }
}

}  // namespace QeltSim
