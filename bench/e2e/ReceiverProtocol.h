// The line protocol between the end-to-end benchmark and the receivers it
// starts. A receiver prints "ready" once the first sample notification has
// reached it, then answers requests on standard input, one line each:
//
//   target N   remember when the N-th notification arrives    -> "ok"
//   report     what was received so far and the CPU spent     -> a report line
//
// and ends when its standard input closes. A report line reads
//
//   received R synthesised S reached_ns T cpu_us C
//
// R: notifications received (for the library: frames built from received
// samples), S: frames the library synthesised for counter gaps (0 for the
// other receivers), T: CLOCK_MONOTONIC time in nanoseconds at which R
// reached the target (0 while it has not), C: user plus system CPU time of
// the whole receiving process in microseconds. The Python receiver speaks
// the same protocol.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace Qelt::BLE::Bench {

struct ReceiverReport {
    uint64_t received = 0;
    uint64_t synthesised = 0;
    uint64_t reachedNs = 0;
    uint64_t cpuUs = 0;
};

inline constexpr const char* kReadyLine = "ready";
inline constexpr const char* kOkLine = "ok";
inline constexpr const char* kReportRequest = "report";
inline constexpr const char* kTargetRequest = "target";

// CLOCK_MONOTONIC in nanoseconds; comparable between processes.
uint64_t MonotonicNs();

// User plus system CPU time of the calling process, all threads, in
// microseconds.
uint64_t OwnCpuUs();

std::string FormatReport(const ReceiverReport& report);
std::optional<ReceiverReport> ParseReport(const std::string& line);

// The count of a "target N" request; nothing for any other line.
std::optional<uint64_t> ParseTarget(const std::string& line);

}  // namespace Qelt::BLE::Bench
