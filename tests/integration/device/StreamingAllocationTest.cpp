// A streaming device allocates nothing per notification, on the whole road
// from the bus worker's signal handler to the application's callback:
// reading the notified value, routing it to its handler, converting and
// assembling the frames, looking up the handle. Counted through the global
// operator new of this binary while nothing else in the process runs.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "AllocationCounter.h"
#include "DeviceTestSupport.h"
#include "Simulator.h"
#include "qeltble.h"

using namespace QeltDeviceTest;
using QeltTest::Simulator;

namespace {

std::atomic<uint64_t> frames{0};

void CountFrame(QELTBLE_HANDLE, const float*, uint32_t) {
    frames.fetch_add(1);
}

}  // namespace

TEST(StreamingAllocation, NotificationsAllocateNothingOnTheirWayToTheApplication) {
    UseShortTimings();
    Simulator sim(SimOptions(
        {"--amplifier", std::string(kLegacySerial) + ":legacy", "--battery-interval-ms", "50"}));
    const CloseAllAtEnd closeAll;
    QELTBLE_HANDLE handle = 0;
    ASSERT_EQ(QELTBLE_OpenDevice(kLegacySerial, &handle), 0) << LastError();
    ASSERT_EQ(QELTBLE_RegisterDataAvailableCallback(handle, &CountFrame), 0) << LastError();
    ASSERT_TRUE(WaitFor([] { return frames.load() >= 64; }));

    // 256 frames: 64 notifications, and battery notifications among them.
    const uint64_t start = frames.load();
    const uint64_t before = Qelt::BLE::Bench::AllocationCount();
    while (frames.load() < start + 256) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(Qelt::BLE::Bench::AllocationCount() - before, 0u);
}
