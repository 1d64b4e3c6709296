// How the simulator starts: its adapter, its timings and the peers around it,
// from the command line and an optional scenario file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "PeerConfig.h"

namespace QeltSim {

enum class AdapterMode { On, Off, None };

struct Timings {
    uint64_t temporaryTimeoutUsec = 30'000'000;  // BlueZ's TemporaryTimeout
    uint64_t disconnectDelayUsec = 2'000'000;    // BlueZ's disconnect timer
    uint64_t scanIntervalUsec = 1'000'000;       // how often an advertiser is heard
    uint64_t connectDelayUsec = 50'000;          // link set-up once advertising is heard
    uint64_t resolveDelayUsec = 50'000;          // service discovery after connecting
    uint64_t batteryIntervalUsec = 5'000'000;    // battery notifications while streaming
};

struct Options {
    AdapterMode adapter = AdapterMode::On;
    Timings timings;
    bool defaultPeers = true;
    std::vector<PeerConfig> peers;
    bool help = false;
};

// Parses the command line (and the scenario file it names). Throws
// std::runtime_error with a message for the user on a bad option or file.
Options ParseOptions(int argc, char** argv);

// Reads a scenario file into `options`.
void LoadScenario(const std::string& path, Options& options);

const char* UsageText();

}  // namespace QeltSim
