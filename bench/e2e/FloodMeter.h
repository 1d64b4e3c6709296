// One measurement of the end-to-end benchmark: the simulator floods a fixed
// number of sample notifications to one receiver, and the meter works out
// what reached it, how fast, what was lost and what CPU it cost.
//
// Counts are taken between two settled moments: the simulator's count of
// sample notifications did not move while the receiver reported, and the
// receiver has everything that was sent, or the difference has stayed the
// same for a while (those notifications are lost). The amplifier's regular
// stream goes on around the flood, so the few regular notifications of the
// settling moments count on both sides.
#pragma once

#include <cstdint>
#include <string>

#include "ReceiverProcess.h"
#include "Simulator.h"

namespace Qelt::BLE::Bench {

struct FloodResult {
    uint64_t sent = 0;         // sample notifications the simulator sent
    uint64_t received = 0;     // of them, received
    int64_t lost = 0;          // sent minus received
    uint64_t synthesised = 0;  // frames the library made up for counter gaps
    double perSecond = 0;      // flood notifications received per second
    double cpuUsEach = 0;      // receiver CPU per received notification
};

class FloodMeter {
public:
    FloodMeter(QeltTest::Simulator& sim, ReceiverProcess& receiver, std::string serial);

    FloodResult Measure(uint64_t count);

private:
    struct Snapshot {
        uint64_t sent = 0;
        ReceiverReport report;
    };

    Snapshot Settle();
    uint64_t Counter(const std::string& prefix);
    void WaitForFloodEnd(uint64_t finishedBefore);

    QeltTest::Simulator& sim_;
    ReceiverProcess& receiver_;
    const std::string serial_;
};

}  // namespace Qelt::BLE::Bench
