#include "ResultTable.h"

#include <algorithm>
#include <utility>

namespace Qelt::BLE::Bench {

namespace {

// The CPU of the library per notification may exceed the bare consumer's by
// this factor at most.
constexpr double kMaxLibraryOverBare = 1.15;

constexpr int kNameWidth = 33;
constexpr int kColumnWidth = 19;

double Median(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string Rate(double perSecond) {
    return perSecond >= 1000 ? Format("%.1fk", perSecond / 1000) : Format("%.0f", perSecond);
}

void Row(std::FILE* out, const std::string& name,
         const std::array<std::string, kReceiverCount>& cells, const std::string& target) {
    std::fprintf(out, "%-*s", kNameWidth, name.c_str());
    for (const std::string& cell : cells) {
        std::fprintf(out, "%-*s", kColumnWidth, cell.c_str());
    }
    std::fprintf(out, "%s\n", target.c_str());
}

size_t Index(Receiver receiver) {
    return static_cast<size_t>(receiver);
}

}  // namespace

const char* ResultTable::Label(Receiver receiver) {
    switch (receiver) {
        case Receiver::Bare:
            return "(a) bare sd-bus";
        case Receiver::Library:
            return "(b) library";
        case Receiver::Bleak:
            return "(c) python3-bleak";
    }
    return "";
}

void ResultTable::Add(Receiver receiver, std::vector<FloodResult> runs) {
    if (runs.empty()) {
        return;
    }
    Summary summary;
    std::vector<double> rates;
    std::vector<double> cpu;
    for (const FloodResult& run : runs) {
        rates.push_back(run.perSecond);
        cpu.push_back(run.cpuUsEach);
        summary.sent += run.sent;
        summary.lost += run.lost;
        summary.synthesised += run.synthesised;
    }
    summary.perSecond = Median(rates);
    summary.cpuUsEach = Median(cpu);
    summary.cpuMin = *std::min_element(cpu.begin(), cpu.end());
    summary.cpuMax = *std::max_element(cpu.begin(), cpu.end());
    summary.cpuOfRun = std::move(cpu);
    summaries_[Index(receiver)] = summary;
}

std::optional<double> ResultTable::CpuRatio(Receiver over, Receiver under) const {
    const auto& a = summaries_[Index(over)];
    const auto& b = summaries_[Index(under)];
    if (!a || !b) {
        return std::nullopt;
    }
    std::vector<double> ratios;
    for (size_t run = 0; run < a->cpuOfRun.size() && run < b->cpuOfRun.size(); ++run) {
        if (b->cpuOfRun[run] > 0) {
            ratios.push_back(a->cpuOfRun[run] / b->cpuOfRun[run]);
        }
    }
    if (ratios.empty()) {
        return std::nullopt;
    }
    return Median(std::move(ratios));
}

std::string ResultTable::LossVerdict() const {
    bool any = false;
    for (const auto& summary : summaries_) {
        if (summary) {
            any = true;
            if (summary->lost != 0 || summary->synthesised != 0) {
                return "not met";
            }
        }
    }
    return any ? "met" : "n/a";
}

void ResultTable::Print(std::FILE* out) const {
    std::fprintf(out, "%s\n\n", heading_.c_str());
    std::array<std::string, kReceiverCount> labels;
    std::array<std::string, kReceiverCount> rate;
    std::array<std::string, kReceiverCount> sent;
    std::array<std::string, kReceiverCount> lost;
    std::array<std::string, kReceiverCount> synthesised;
    std::array<std::string, kReceiverCount> cpu;
    std::array<std::string, kReceiverCount> cpuRange;
    for (size_t i = 0; i < kReceiverCount; ++i) {
        const auto receiver = static_cast<Receiver>(i);
        labels[i] = Label(receiver);
        const auto& summary = summaries_[i];
        if (!summary) {
            rate[i] = sent[i] = lost[i] = synthesised[i] = cpu[i] = cpuRange[i] = "not run";
            continue;
        }
        rate[i] = Rate(summary->perSecond);
        sent[i] = std::to_string(summary->sent);
        lost[i] = std::to_string(summary->lost);
        synthesised[i] = receiver == Receiver::Library ? std::to_string(summary->synthesised) : "-";
        cpu[i] = Format("%.2f", summary->cpuUsEach);
        cpuRange[i] = Format("%.2f", summary->cpuMin) + " - " + Format("%.2f", summary->cpuMax);
    }
    const auto ratio = [](const std::optional<double>& value) {
        return value ? Format("%.3f", *value) : std::string("n/a");
    };
    const auto verdict = [](const std::optional<double>& value, bool met) {
        return !value ? std::string("n/a") : met ? std::string("met") : std::string("not met");
    };
    const auto bOverA = CpuRatio(Receiver::Library, Receiver::Bare);
    const auto bOverC = CpuRatio(Receiver::Library, Receiver::Bleak);

    Row(out, "", labels, "target");
    Row(out, "notifications/s (median)", rate, "");
    Row(out, "notifications sent", sent, "");
    Row(out, "lost (sent - received)", lost,
        "nothing lost at the rate the bus sustains: " + LossVerdict());
    Row(out, "frames synthesised for gaps", synthesised, "");
    Row(out, "CPU us/notification (median)", cpu, "");
    Row(out, "  range over the runs", cpuRange, "");
    Row(out, "CPU ratio b/a (median of turns)", {"", ratio(bOverA), ""},
        Format("b within %.2f x a: ", kMaxLibraryOverBare) +
            verdict(bOverA, bOverA && *bOverA <= kMaxLibraryOverBare));
    Row(out, "CPU ratio b/c (median of turns)", {"", ratio(bOverC), ""},
        "b below c: " + verdict(bOverC, bOverC && *bOverC < 1.0));
    // No target: shows how the sd-bus floor itself compares with Bleak.
    Row(out, "CPU ratio a/c (median of turns)",
        {ratio(CpuRatio(Receiver::Bare, Receiver::Bleak)), "", ""},
        "(for reference: the floor against c)");
}

}  // namespace Qelt::BLE::Bench
