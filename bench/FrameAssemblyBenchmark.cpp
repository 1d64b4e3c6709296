// Cost of turning one sample notification into delivered frames (legacy
// conversion, scatter, hold, counter rewriting, battery and validity columns,
// gap check, delivery to a per-frame callback that does nothing), for 8, 32
// and 64 channels (the last one a counter) and 1, 4 and 8 frames per
// notification, and the allocations one notification costs.
// Target: 32 channels with one frame per notification in at most 150 ns, no
// allocation. The figures are printed, never enforced.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "AllocationCounter.h"
#include "device/FrameAssembler.h"
#include "protocol/QeltLegacyProtocolHandler.h"

using namespace Qelt::BLE;

namespace {

constexpr double kTargetNs = 150.0;
constexpr int64_t kTargetChannels = 32;
constexpr int64_t kTargetFrames = 1;

void IgnoreFrame(QELTBLE_HANDLE, const float*, uint32_t) {}

// Channels 1 to c - 1 carry EEG in every frame; channel c is the counter,
// sent once per notification in frame 0, as legacy amplifiers do.
struct LegacyStream {
    QELTBLE_AMPLIFIER_CONFIGURATION amplifier{};
    ChannelMap channels;
    FilterMap filters;
    PayloadLayout layout;

    LegacyStream(uint16_t channelCount, uint16_t frames) {
        for (uint16_t id = 1; id <= channelCount; ++id) {
            const bool counter = id == channelCount;
            channels[id] = {id, static_cast<uint8_t>(counter ? QELTBLE_CHANNEL_TYPE_COUNTER : 1),
                            static_cast<uint8_t>(id), counter ? 1.0f : 0.0223517f};
        }
        for (uint16_t frame = 0; frame < frames; ++frame) {
            for (uint16_t id = 1; id <= channelCount; ++id) {
                if (id != channelCount || frame == 0) {
                    layout.push_back({id, frame});
                }
            }
        }
        const auto slots = static_cast<uint16_t>(layout.size());
        amplifier = {500,          channelCount, 1.0f, static_cast<uint16_t>(3 * slots),
                     channelCount, slots,        0};
    }

    // Random samples, and the given counter in the counter's slot.
    std::string Payload(std::mt19937& random, uint32_t counter) const {
        std::uniform_int_distribution<int> byte(0, 255);
        std::string payload;
        for (const auto& slot : layout) {
            const bool isCounter = channels.at(slot.channelId).channelType == 5;
            for (int k = 2; k >= 0; --k) {
                payload.push_back(static_cast<char>(isCounter ? counter >> (8 * k) : byte(random)));
            }
        }
        return payload;
    }
};

void BM_FrameAssembly(benchmark::State& state) {
    const auto channelCount = static_cast<uint16_t>(state.range(0));
    const auto frames = static_cast<uint16_t>(state.range(1));
    const LegacyStream stream(channelCount, frames);
    QeltLegacyProtocolHandler handler;
    FrameAssembler assembler([] { return QELTBLE_HANDLE{1}; });
    assembler.Configure(handler, stream.amplifier, stream.channels, stream.filters, stream.layout);
    assembler.SetFrameCallback(&IgnoreFrame);

    // Consecutive counters, so every notification is checked for a gap and
    // none is found.
    std::mt19937 random(20240613);
    constexpr uint32_t kPayloads = 64;
    std::vector<std::string> payloads;
    for (uint32_t i = 0; i < kPayloads; ++i) {
        payloads.push_back(stream.Payload(random, i + 1));
    }
    uint32_t next = 0;
    uint32_t counter = kPayloads;
    auto nextPayload = [&]() -> std::string& {
        std::string& payload = payloads[next];
        next = (next + 1) % kPayloads;
        // Rewrite the counter slot (the last slot of frame 0) in place.
        const size_t offset = 3 * static_cast<size_t>(channelCount - 1);
        ++counter;
        payload[offset] = static_cast<char>(counter >> 16);
        payload[offset + 1] = static_cast<char>(counter >> 8);
        payload[offset + 2] = static_cast<char>(counter);
        return payload;
    };
    for (uint32_t i = 0; i < kPayloads; ++i) {
        assembler.Process(nextPayload(), 90);
    }

    const uint64_t before = Bench::AllocationCount();
    for (auto _ : state) {
        assembler.Process(nextPayload(), 90);
        benchmark::ClobberMemory();
    }
    const uint64_t allocations = Bench::AllocationCount() - before;
    state.counters["frames"] = frames;
    state.counters["allocs_per_call"] =
        benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
}

BENCHMARK(BM_FrameAssembly)
    ->ArgNames({"channels", "frames"})
    ->ArgsProduct({{8, 32, 64}, {1, 4, 8}});

// Adds nanoseconds per notification to every run and, at the end, prints
// them with the allocations and whether the target is met.
class TargetReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        std::vector<Run> extended = runs;
        for (Run& run : extended) {
            const bool central = run.run_type == Run::RT_Iteration ||
                                 run.aggregate_name == "mean" || run.aggregate_name == "median";
            if (run.error_occurred || !central) {
                continue;
            }
            const double nsPerNotification =
                run.GetAdjustedCPUTime() * 1e9 / benchmark::GetTimeUnitMultiplier(run.time_unit);
            run.counters["ns_per_notification"] = nsPerNotification;
            results_.push_back(
                {run.benchmark_name(), nsPerNotification, run.counters["allocs_per_call"].value});
        }
        ConsoleReporter::ReportRuns(extended);
    }

    void PrintTargets() const {
        std::printf(
            "\nNotification to frames (target: %lld channels, %lld frame per notification, "
            "<= %.0f ns; 0 allocations everywhere):\n",
            static_cast<long long>(kTargetChannels), static_cast<long long>(kTargetFrames),
            kTargetNs);
        const std::string target = "BM_FrameAssembly/channels:" + std::to_string(kTargetChannels) +
                                   "/frames:" + std::to_string(kTargetFrames);
        for (const Result& r : results_) {
            const bool isTarget = r.name.rfind(target, 0) == 0;
            std::printf(
                "  %-44s %8.1f ns/notification %s %g allocs/call %s\n", r.name.c_str(),
                r.nsPerNotification,
                isTarget ? (r.nsPerNotification <= kTargetNs ? "met   " : "MISSED") : "      ",
                r.allocationsPerCall, r.allocationsPerCall == 0.0 ? "met" : "MISSED");
        }
    }

private:
    struct Result {
        std::string name;
        double nsPerNotification;
        double allocationsPerCall;
    };
    std::vector<Result> results_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    TargetReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintTargets();
    benchmark::Shutdown();
    return 0;
}
