// The BlueZ simulator on a private bus, for tests: starts a PrivateBus and
// qeltble-sim on it, waits until the simulator owns org.bluez and its control
// name, and offers typed calls of its control interface. The simulator and
// the bus are ended by PID when the object is destroyed.
#pragma once

#include <systemd/sd-bus.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "PrivateBus.h"

namespace QeltTest {

class Simulator {
public:
    // Amplifier settings by name ("generation" = "nus", "channels" = "4", ...);
    // see the simulator's README for the vocabulary.
    using Config = std::map<std::string, std::string>;

    // `options` are qeltble-sim command-line options. Without
    // --no-default-devices and without --amplifier the default devices are
    // there. Throws std::runtime_error when the simulator does not come up.
    explicit Simulator(const std::vector<std::string>& options = {});
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;
    ~Simulator();

    // The path to the simulator binary this build uses.
    static const char* BinaryPath();

    const PrivateBus& Bus() const { return *bus_; }
    pid_t Pid() const { return process_.Pid(); }
    // The test's own connection to the private bus (for control calls and
    // for driving org.bluez directly).
    sd_bus* Connection() const { return connection_; }

    // Control calls; each throws std::runtime_error with the D-Bus error
    // name and message when the simulator refuses it.
    std::string AddAmplifier(const std::string& serial, const Config& config = {});
    void ConfigureAmplifier(const std::string& serial, const Config& config);
    void RemoveAmplifier(const std::string& serial);
    void SetAmplifierPower(const std::string& serial, bool on);
    void SetAdapterPowered(bool powered);
    void RemoveAdapter();
    void AddAdapter(bool powered = true);
    // The next call of `method` ("Member" or "Interface.Member"), on `object`
    // or on any object when it is empty, fails with the given error.
    void FailNextCall(const std::string& method, const std::string& object,
                      const std::string& errorName, const std::string& message);
    void ClearFailures();
    uint64_t CallCount(const std::string& method);
    uint64_t SignalCount(const std::string& member = "");
    std::map<std::string, uint64_t> Counters();
    void ResetCounters();
    // Stream faults and power, each for the named amplifier.
    void PowerCycle(const std::string& serial, std::chrono::milliseconds pause);
    void DropNotifications(const std::string& serial, uint32_t count);
    void RepeatCounter(const std::string& serial);
    void StepBackCounter(const std::string& serial, uint32_t steps);
    void SendWrongLengthPayload(const std::string& serial);
    // Sends `count` sample notifications (0: no limit) or for `duration`
    // (0: no limit) as fast as the bus takes them; the amplifier must be
    // streaming. Progress shows in the counters "flood:<serial>" and
    // "floods-finished:<serial>".
    void Flood(const std::string& serial, uint64_t count, std::chrono::milliseconds duration);

    // Serial number -> device object path, for every amplifier.
    std::map<std::string, std::string> Amplifiers();

    // Invokes a control method with arguments appended by `append`; returns
    // the reply (owned by the caller) or throws.
    sd_bus_message* Call(const char* member, const char* signature, ...);

private:
    void WaitForNames(std::chrono::milliseconds limit);
    sd_bus_message* CallWithConfig(const char* member, const std::string& serial,
                                   const Config& config);

    std::unique_ptr<PrivateBus> bus_;
    ChildProcess process_;
    sd_bus* connection_ = nullptr;
};

}  // namespace QeltTest
