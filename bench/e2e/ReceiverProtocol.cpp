#include "ReceiverProtocol.h"

#include <sys/resource.h>
#include <time.h>

#include <cstdio>
#include <cstring>

namespace Qelt::BLE::Bench {

namespace {

uint64_t Microseconds(const timeval& time) {
    return static_cast<uint64_t>(time.tv_sec) * 1'000'000u + static_cast<uint64_t>(time.tv_usec);
}

}  // namespace

uint64_t MonotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1'000'000'000u + static_cast<uint64_t>(now.tv_nsec);
}

uint64_t OwnCpuUs() {
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) != 0) {
        return 0;
    }
    return Microseconds(usage.ru_utime) + Microseconds(usage.ru_stime);
}

std::string FormatReport(const ReceiverReport& report) {
    char line[160];
    std::snprintf(line, sizeof line, "received %llu synthesised %llu reached_ns %llu cpu_us %llu",
                  static_cast<unsigned long long>(report.received),
                  static_cast<unsigned long long>(report.synthesised),
                  static_cast<unsigned long long>(report.reachedNs),
                  static_cast<unsigned long long>(report.cpuUs));
    return line;
}

std::optional<ReceiverReport> ParseReport(const std::string& line) {
    unsigned long long received = 0;
    unsigned long long synthesised = 0;
    unsigned long long reached = 0;
    unsigned long long cpu = 0;
    int end = 0;
    if (std::sscanf(line.c_str(), "received %llu synthesised %llu reached_ns %llu cpu_us %llu%n",
                    &received, &synthesised, &reached, &cpu, &end) != 4 ||
        static_cast<size_t>(end) != line.size()) {
        return std::nullopt;
    }
    return ReceiverReport{received, synthesised, reached, cpu};
}

std::optional<uint64_t> ParseTarget(const std::string& line) {
    unsigned long long count = 0;
    int end = 0;
    if (std::sscanf(line.c_str(), "target %llu%n", &count, &end) != 1 ||
        static_cast<size_t>(end) != line.size()) {
        return std::nullopt;
    }
    return count;
}

}  // namespace Qelt::BLE::Bench
