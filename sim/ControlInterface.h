// org.qeltble.Simulator1 on /org/qeltble/Simulator: how tests and users
// script the simulator (devices, power, faults, counters). Every argument is
// checked; a malformed call gets a D-Bus error and changes nothing.
#pragma once

#include <string>

#include "BusValue.h"
#include "PeerConfig.h"

namespace QeltSim {

class Simulator;

class ControlInterface {
public:
    static constexpr const char* kPath = "/org/qeltble/Simulator";
    static constexpr const char* kInterface = "org.qeltble.Simulator1";

    explicit ControlInterface(Simulator& simulator);
    ControlInterface(const ControlInterface&) = delete;
    ControlInterface& operator=(const ControlInterface&) = delete;

private:
    void Add(const char* member, const char* in, const char* out,
             int (ControlInterface::*handler)(sd_bus_message*));

    int AddAmplifier(sd_bus_message* call);
    int ConfigureAmplifier(sd_bus_message* call);
    int RemoveAmplifier(sd_bus_message* call);
    int SetAmplifierPower(sd_bus_message* call);
    int SetAdapterPowered(sd_bus_message* call);
    int AddAdapter(sd_bus_message* call);
    int RemoveAdapter(sd_bus_message* call);
    int FailNextCall(sd_bus_message* call);
    int ClearFailures(sd_bus_message* call);
    int GetCallCount(sd_bus_message* call);
    int GetSignalCount(sd_bus_message* call);
    int GetCounters(sd_bus_message* call);
    int ResetCounters(sd_bus_message* call);
    int ListAmplifiers(sd_bus_message* call);
    int PowerCycle(sd_bus_message* call);
    int DropNotifications(sd_bus_message* call);
    int RepeatCounter(sd_bus_message* call);
    int StepBackCounter(sd_bus_message* call);
    int SendWrongLengthPayload(sd_bus_message* call);
    int Flood(sd_bus_message* call);

    // The amplifier named by the call's first argument (a string), or
    // nullptr after answering with NotFound.
    class Amplifier* FindAmplifier(sd_bus_message* call);

    // Applies a configuration dictionary to a copy of `config`; on success
    // replaces `config`. Returns false after answering the call with an error.
    bool ApplyConfig(sd_bus_message* call, PeerConfig& config);

    Simulator& simulator_;
};

}  // namespace QeltSim
