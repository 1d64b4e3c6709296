#include "FloodMeter.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <utility>

namespace Qelt::BLE::Bench {

namespace {

constexpr auto kPoll = std::chrono::milliseconds(10);
// A difference between sent and received that lasts this long is a loss,
// not notifications still on their way.
constexpr auto kStableFor = std::chrono::milliseconds(500);
constexpr auto kSettleLimit = std::chrono::seconds(120);
constexpr auto kFloodLimit = std::chrono::seconds(600);

}  // namespace

FloodMeter::FloodMeter(QeltTest::Simulator& sim, ReceiverProcess& receiver, std::string serial)
    : sim_(sim), receiver_(receiver), serial_(std::move(serial)) {}

uint64_t FloodMeter::Counter(const std::string& prefix) {
    const auto counters = sim_.Counters();
    const auto found = counters.find(prefix + serial_);
    return found == counters.end() ? 0 : found->second;
}

FloodMeter::Snapshot FloodMeter::Settle() {
    const auto deadline = std::chrono::steady_clock::now() + kSettleLimit;
    int64_t lastGap = -1;
    auto gapSince = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() < deadline) {
        const uint64_t sentBefore = Counter("notifications:");
        const ReceiverReport report = receiver_.Report();
        const uint64_t sentAfter = Counter("notifications:");
        if (sentBefore == sentAfter) {
            const int64_t gap =
                static_cast<int64_t>(sentBefore) - static_cast<int64_t>(report.received);
            const auto now = std::chrono::steady_clock::now();
            if (gap <= 0 || (gap == lastGap && now - gapSince >= kStableFor)) {
                return {sentBefore, report};
            }
            if (gap != lastGap) {
                lastGap = gap;
                gapSince = now;
            }
        }
        std::this_thread::sleep_for(kPoll);
    }
    throw std::runtime_error("the receiver did not settle");
}

void FloodMeter::WaitForFloodEnd(uint64_t finishedBefore) {
    const auto deadline = std::chrono::steady_clock::now() + kFloodLimit;
    while (Counter("floods-finished:") == finishedBefore) {
        if (std::chrono::steady_clock::now() >= deadline) {
            throw std::runtime_error("the flood did not end");
        }
        std::this_thread::sleep_for(kPoll);
    }
}

FloodResult FloodMeter::Measure(uint64_t count) {
    const Snapshot before = Settle();
    const uint64_t floodBefore = Counter("flood:");
    const uint64_t finishedBefore = Counter("floods-finished:");
    receiver_.SetTarget(before.report.received + count);
    const uint64_t startNs = MonotonicNs();
    sim_.Flood(serial_, count, std::chrono::milliseconds(0));
    WaitForFloodEnd(finishedBefore);
    const uint64_t floodEndSeenNs = MonotonicNs();
    const Snapshot after = Settle();
    const uint64_t flooded = Counter("flood:") - floodBefore;

    FloodResult result;
    result.sent = after.sent - before.sent;
    result.received = after.report.received - before.report.received;
    result.lost = static_cast<int64_t>(result.sent) - static_cast<int64_t>(result.received);
    result.synthesised = after.report.synthesised - before.report.synthesised;
    // Without losses the receiver noted when the flood's last notification
    // arrived. With losses the target is reached late or never; the moment
    // the flood was seen to end is the closest stand-in.
    const bool reached = result.lost <= 0 && after.report.reachedNs > startNs;
    const uint64_t endNs = reached ? after.report.reachedNs : floodEndSeenNs;
    const uint64_t floodReceived =
        result.lost > 0 ? flooded - std::min<uint64_t>(flooded, result.lost) : flooded;
    result.perSecond =
        static_cast<double>(floodReceived) * 1e9 / static_cast<double>(endNs - startNs);
    result.cpuUsEach = result.received == 0
                           ? 0
                           : static_cast<double>(after.report.cpuUs - before.report.cpuUs) /
                                 static_cast<double>(result.received);
    return result;
}

}  // namespace Qelt::BLE::Bench
