#include "device/StreamDiagnostics.h"

#include <atomic>
#include <cstdio>

#include "log/StreamDebug.h"

namespace Qelt::BLE {

namespace {

// True for the first caller only, and only when diagnostics are on.
bool FirstTime(std::atomic<bool>& written) {
    return StreamDebugEnabled() && !written.exchange(true);
}

std::atomic<bool> firstNotificationWritten{false};
std::atomic<bool> parseErrorWritten{false};
std::atomic<bool> unknownErrorWritten{false};

}  // namespace

void ReportFirstNotification(std::size_t payloadLength) noexcept {
    if (FirstTime(firstNotificationWritten)) {
        std::fprintf(stderr, "[qeltble] OnEEGAvailable: first EEG notification (%zu bytes)\n",
                     payloadLength);
    }
}

void ReportDroppedNotification(const char* reason) noexcept {
    if (FirstTime(parseErrorWritten)) {
        std::fprintf(stderr, "[qeltble] OnEEGAvailable parse error (payload dropped): %s\n",
                     reason);
    }
}

void ReportDroppedNotification() noexcept {
    if (FirstTime(unknownErrorWritten)) {
        std::fprintf(stderr, "[qeltble] OnEEGAvailable: unknown error (payload dropped)\n");
    }
}

}  // namespace Qelt::BLE
