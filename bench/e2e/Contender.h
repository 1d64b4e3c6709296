// One receiver under measurement together with the private bus and the
// simulator that feed it and nothing else. Contenders live side by side for
// the whole benchmark so that their floods can take turns: a change in the
// machine's other load then affects all of them alike.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "FloodMeter.h"
#include "ReceiverProcess.h"
#include "ResultTable.h"
#include "Simulator.h"

namespace Qelt::BLE::Bench {

struct ContenderSetup {
    std::string serial;
    std::vector<std::string> simulatorOptions;
    std::string bareReceiver;     // executable
    std::string libraryReceiver;  // executable
    std::string python;           // interpreter for the Bleak receiver
    std::string bleakReceiver;    // script
    // Put in front of every receiver's command: a profiler, say.
    std::vector<std::string> wrapper;
};

class Contender {
public:
    // Starts the bus, the simulator and the receiver, and waits until
    // notifications reach the receiver; throws std::runtime_error when they
    // do not.
    Contender(Receiver receiver, const ContenderSetup& setup);

    Receiver Kind() const { return receiver_; }
    FloodResult Flood(uint64_t count) { return meter_->Measure(count); }
    // Ends the receiver by its PID; the simulator and the bus end with the
    // object.
    void Stop() { process_->Stop(); }

private:
    Receiver receiver_;
    std::unique_ptr<QeltTest::Simulator> sim_;
    std::unique_ptr<ReceiverProcess> process_;
    std::unique_ptr<FloodMeter> meter_;
};

}  // namespace Qelt::BLE::Bench
