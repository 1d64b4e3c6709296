// Cost of converting one sample notification into floats, per sample, for
// both amplifier generations, and the allocations one conversion makes.
// Targets: legacy at most 3 ns per sample, NUS at most 2 ns per sample, no
// allocation per call. The figures are printed, never enforced.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "AllocationCounter.h"
#include "protocol/QeltLegacyProtocolHandler.h"
#include "protocol/QeltNusProtocolHandler.h"

using namespace Qelt::BLE;

namespace {

// The largest notification an amplifier sends fits one 247-byte ATT MTU.
constexpr std::size_t kMaxPayload = 244;

std::string RandomPayload(std::size_t size) {
    std::mt19937 random(20240607);
    std::uniform_int_distribution<int> byte(0, 255);
    std::string payload(size, '\0');
    for (char& c : payload) {
        c = static_cast<char>(byte(random));
    }
    return payload;
}

// Channels 1 to c, frame after frame, as many whole frames as fit the
// largest notification (at least one).
PayloadLayout FramesOfAllChannels(uint16_t channels, std::size_t bytesPerSample) {
    const std::size_t frames = std::max<std::size_t>(1, kMaxPayload / (bytesPerSample * channels));
    PayloadLayout layout;
    for (uint16_t frame = 0; frame < frames; ++frame) {
        for (uint16_t id = 1; id <= channels; ++id) {
            layout.push_back({id, frame});
        }
    }
    return layout;
}

void ReportPerCall(benchmark::State& state, std::size_t samples, uint64_t allocationsBefore) {
    const uint64_t allocations = Bench::AllocationCount() - allocationsBefore;
    state.counters["samples"] = static_cast<double>(samples);
    state.counters["allocs_per_call"] =
        benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
}

void BM_Legacy(benchmark::State& state) {
    const auto channelCount = static_cast<uint16_t>(state.range(0));
    const PayloadLayout layout = FramesOfAllChannels(channelCount, 3);
    const auto count = static_cast<uint16_t>(layout.size());
    ChannelMap channels;
    for (uint16_t id = 1; id <= channelCount; ++id) {
        channels[id] = {id, 1, static_cast<uint8_t>(id), 0.0223517f * static_cast<float>(id)};
    }
    const FilterMap filters;
    const QELTBLE_AMPLIFIER_CONFIGURATION amplifier{
        500, channelCount, 0.0f, static_cast<uint16_t>(3 * count), channelCount, count, 0};
    const std::string payload = RandomPayload(amplifier.payloadSize);
    std::vector<float> out(count);
    QeltLegacyProtocolHandler handler;
    IProtocolHandler& generic = handler;

    const uint64_t before = Bench::AllocationCount();
    for (auto _ : state) {
        generic.ConvertPayload(payload, out.data(), count, &amplifier, &channels, &filters,
                               &layout);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    ReportPerCall(state, count, before);
}

void BM_Nus(benchmark::State& state) {
    const auto channelCount = static_cast<uint16_t>(state.range(0));
    const auto width = static_cast<unsigned char>(state.range(1));
    const bool littleEndian = state.range(2) != 0;
    const PayloadLayout layout = FramesOfAllChannels(channelCount, width);
    const auto count = static_cast<uint16_t>(layout.size());
    const QELTBLE_AMPLIFIER_CONFIGURATION amplifier{
        500, channelCount, 7.5f, static_cast<uint16_t>(width * count), channelCount, count, 0};
    const std::string payload = RandomPayload(amplifier.payloadSize);
    std::vector<float> out(count);
    QeltNusProtocolHandler handler;
    handler.SetSampleFormat(width, littleEndian);
    IProtocolHandler& generic = handler;

    const uint64_t before = Bench::AllocationCount();
    for (auto _ : state) {
        generic.ConvertPayload(payload, out.data(), count, &amplifier, &layout);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    ReportPerCall(state, count, before);
}

BENCHMARK(BM_Legacy)->ArgName("channels")->Arg(8)->Arg(32)->Arg(64);
BENCHMARK(BM_Nus)
    ->ArgNames({"channels", "width", "le"})
    ->ArgsProduct({{8, 32, 64}, {3, 4}, {0, 1}});

// Adds nanoseconds per sample to every run and, at the end, says for each
// run whether it meets its target.
class TargetReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        std::vector<Run> extended = runs;
        for (Run& run : extended) {
            const auto samples = run.counters.find("samples");
            const bool central = run.run_type == Run::RT_Iteration ||
                                 run.aggregate_name == "mean" || run.aggregate_name == "median";
            if (run.error_occurred || !central || samples == run.counters.end() ||
                samples->second.value <= 0) {
                continue;
            }
            const double nsPerCall =
                run.GetAdjustedCPUTime() * 1e9 / benchmark::GetTimeUnitMultiplier(run.time_unit);
            const double nsPerSample = nsPerCall / samples->second.value;
            run.counters["ns_per_sample"] = nsPerSample;
            const bool legacy = run.benchmark_name().rfind("BM_Legacy", 0) == 0;
            results_.push_back({run.benchmark_name(), nsPerSample, legacy ? 3.0 : 2.0,
                                run.counters["allocs_per_call"].value});
        }
        ConsoleReporter::ReportRuns(extended);
    }

    void PrintTargets() const {
        std::printf(
            "\nTargets (legacy <= 3 ns per sample, NUS <= 2 ns per sample, "
            "0 allocations per call):\n");
        for (const Result& r : results_) {
            const bool timeMet = r.nsPerSample <= r.limitNs;
            const bool allocationsMet = r.allocationsPerCall == 0.0;
            std::printf("  %-40s %6.3f ns/sample (limit %.0f) %-8s %g allocs/call %s\n",
                        r.name.c_str(), r.nsPerSample, r.limitNs, timeMet ? "met" : "MISSED",
                        r.allocationsPerCall, allocationsMet ? "met" : "MISSED");
        }
    }

private:
    struct Result {
        std::string name;
        double nsPerSample;
        double limitNs;
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
