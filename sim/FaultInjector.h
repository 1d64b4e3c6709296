// One-shot failures armed through the control interface: the next call of a
// named method (optionally only on one object) is answered with a given
// D-Bus error instead of being carried out.
#pragma once

#include <deque>
#include <string>

namespace QeltSim {

struct InjectedFault {
    std::string method;  // "Member" or "Interface.Member"
    std::string object;  // empty: any object
    std::string errorName;
    std::string errorMessage;
};

class FaultInjector {
public:
    void Arm(InjectedFault fault) { faults_.push_back(std::move(fault)); }
    void Clear() { faults_.clear(); }

    // Removes and returns the first armed fault that matches the call.
    bool Take(const std::string& interface, const std::string& member, const std::string& path,
              InjectedFault& out) {
        for (auto it = faults_.begin(); it != faults_.end(); ++it) {
            const bool methodMatches =
                it->method == member || it->method == interface + "." + member;
            const bool objectMatches = it->object.empty() || it->object == path;
            if (methodMatches && objectMatches) {
                out = std::move(*it);
                faults_.erase(it);
                return true;
            }
        }
        return false;
    }

private:
    std::deque<InjectedFault> faults_;
};

}  // namespace QeltSim
