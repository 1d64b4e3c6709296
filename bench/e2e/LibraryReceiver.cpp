// The library as an application uses it: opens the amplifier through the
// public interface, registers a per-frame data callback that only counts,
// and answers the benchmark's requests (ReceiverProtocol.h) on its main
// thread while the library's own threads receive and deliver the frames.
//
//   bench_e2e_library_receiver SERIAL
#include <qeltble.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>

#include "ReceiverProtocol.h"

namespace Qelt::BLE::Bench {

namespace {

constexpr auto kFirstFrameLimit = std::chrono::seconds(20);

// Written only by the device's bus worker (one writer), read by the main
// thread.
std::atomic<uint64_t> g_received{0};
std::atomic<uint64_t> g_synthesised{0};
std::atomic<uint64_t> g_target{0};
std::atomic<uint64_t> g_reachedNs{0};

// One frame: the channels, the battery level, then 1.0 for a frame built from
// received samples or 0.0 for one synthesised to fill a counter gap.
void OnFrame(QELTBLE_HANDLE /*handle*/, const float* values, uint32_t width) {
    if (values[width - 1] == 0.0f) {
        g_synthesised.store(g_synthesised.load(std::memory_order_relaxed) + 1,
                            std::memory_order_relaxed);
        return;
    }
    const uint64_t received = g_received.load(std::memory_order_relaxed) + 1;
    g_received.store(received, std::memory_order_relaxed);
    if (received == g_target.load(std::memory_order_relaxed)) {
        g_reachedNs.store(MonotonicNs(), std::memory_order_relaxed);
    }
}

int Fail(const char* what) {
    std::fprintf(stderr, "library receiver: %s failed: %s\n", what, QELTBLE_GetLastErrorText());
    return 1;
}

bool WaitForFirstFrame() {
    const auto deadline = std::chrono::steady_clock::now() + kFirstFrameLimit;
    while (g_received.load() == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void Answer(const std::string& line) {
    std::cout << line << std::endl;
}

void Serve() {
    std::string request;
    while (std::getline(std::cin, request)) {
        if (const auto target = ParseTarget(request)) {
            g_reachedNs.store(0);
            g_target.store(*target);
            if (g_received.load() >= *target) {
                g_reachedNs.store(MonotonicNs());
            }
            Answer(kOkLine);
        } else if (request == kReportRequest) {
            Answer(FormatReport(
                {g_received.load(), g_synthesised.load(), g_reachedNs.load(), OwnCpuUs()}));
        } else {
            Answer("error unknown request");
        }
    }
}

}  // namespace

}  // namespace Qelt::BLE::Bench

int main(int argc, char** argv) {
    using namespace Qelt::BLE::Bench;
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s SERIAL\n", argv[0]);
        return 2;
    }
    QELTBLE_HANDLE handle = 0;
    if (QELTBLE_OpenDevice(argv[1], &handle) != QELTBLE_SUCCESS) {
        return Fail("opening the amplifier");
    }
    int status = 0;
    if (QELTBLE_RegisterDataAvailableCallback(handle, OnFrame) != QELTBLE_SUCCESS) {
        status = Fail("registering the data callback");
    } else if (!WaitForFirstFrame()) {
        std::fprintf(stderr, "library receiver: no frame arrived\n");
        status = 1;
    } else {
        Answer(kReadyLine);
        Serve();
    }
    QELTBLE_RegisterDataAvailableCallback(handle, nullptr);
    QELTBLE_CloseDevice(&handle);
    QELTBLE_Shutdown();
    return status;
}
