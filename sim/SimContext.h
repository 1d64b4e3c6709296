// What the parts of the simulator share: the event loop, the object tree, the
// client watch, the counters and the timings.
#pragma once

#include <random>

#include "ClientWatch.h"
#include "Counters.h"
#include "ObjectTree.h"
#include "Options.h"
#include "SdBus.h"

namespace QeltSim {

struct SimContext {
    sd_event* event;
    ObjectTree& tree;
    ClientWatch& clients;
    Counters& counters;
    Timings timings;
    std::mt19937 random{20240611u};
};

}  // namespace QeltSim
