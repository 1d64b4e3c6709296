// A private dbus-daemon standing in for the system bus. It listens on a unix
// socket in a fresh temporary directory; while the object lives,
// DBUS_SYSTEM_BUS_ADDRESS points at it, so sd_bus_open_system (and every
// program the test starts) reaches it instead of the real system bus.
#pragma once

#include <string>

#include "ChildProcess.h"

namespace QeltTest {

class PrivateBus {
public:
    PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;
    ~PrivateBus();

    const std::string& Address() const { return address_; }
    const std::string& Directory() const { return directory_; }
    pid_t Pid() const { return daemon_.Pid(); }

    // Ends the daemon now, as when the system bus goes away under clients.
    void Kill();

private:
    std::string directory_;
    std::string address_;
    std::string previousAddress_;
    bool hadPreviousAddress_ = false;
    ChildProcess daemon_;
};

}  // namespace QeltTest
