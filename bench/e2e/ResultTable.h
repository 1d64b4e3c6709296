// The one table the end-to-end benchmark prints: a column per receiver, a
// row per figure, and the target of each figure as text beside it. Figures
// of repeated runs are medians, so one noisy run does not decide; losses are
// summed over all runs. A ratio between two receivers is the median of the
// ratios of their runs of the same turn, which ran seconds apart under much
// the same load. Nothing here fails: a missed target is printed.
#pragma once

#include <array>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "FloodMeter.h"

namespace Qelt::BLE::Bench {

enum class Receiver { Bare, Library, Bleak };
inline constexpr size_t kReceiverCount = 3;

class ResultTable {
public:
    explicit ResultTable(std::string heading) : heading_(std::move(heading)) {}

    void Add(Receiver receiver, std::vector<FloodResult> runs);
    void Print(std::FILE* out) const;

    static const char* Label(Receiver receiver);

private:
    struct Summary {
        double perSecond = 0;
        double cpuUsEach = 0;
        double cpuMin = 0;
        double cpuMax = 0;
        uint64_t sent = 0;
        int64_t lost = 0;
        uint64_t synthesised = 0;
        std::vector<double> cpuOfRun;
    };

    std::optional<double> CpuRatio(Receiver over, Receiver under) const;
    std::string LossVerdict() const;

    std::string heading_;
    std::array<std::optional<Summary>, kReceiverCount> summaries_;
};

}  // namespace Qelt::BLE::Bench
