// Counts what the simulator received and sent, for tests and benchmarks to
// read back through the control interface: "call:<Interface>.<Member>" per
// method call, "signal:<Member>" per emitted signal, and named event counters
// such as "notifications:<serial>".
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace QeltSim {

class Counters {
public:
    void Add(const std::string& key, uint64_t amount = 1) { counts_[key] += amount; }
    uint64_t Get(const std::string& key) const {
        const auto it = counts_.find(key);
        return it == counts_.end() ? 0 : it->second;
    }
    const std::map<std::string, uint64_t>& All() const { return counts_; }
    void Reset() { counts_.clear(); }

private:
    std::map<std::string, uint64_t> counts_;
};

}  // namespace QeltSim
