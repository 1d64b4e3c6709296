#include "log/LogTimestamp.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace Qelt::BLE {

namespace {

std::tm LocalNow(int* milliseconds) {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    if (milliseconds != nullptr) {
        const auto sinceEpoch = now.time_since_epoch();
        *milliseconds = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count() % 1000);
    }
    std::tm local{};
    localtime_r(&seconds, &local);
    return local;
}

}  // namespace

std::string LogLineTimestamp() {
    int milliseconds = 0;
    const std::tm local = LocalNow(&milliseconds);
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &local);
    char stamp[48];
    std::snprintf(stamp, sizeof stamp, "[%s.%03d]", date, milliseconds);
    return stamp;
}

std::string LogFileTimestamp() {
    const std::tm local = LocalNow(nullptr);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d_%H%M%S", &local);
    return stamp;
}

}  // namespace Qelt::BLE
