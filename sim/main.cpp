// qeltble-sim: a BlueZ stand-in with simulated amplifiers.
#include <cstdio>
#include <exception>

#include "Options.h"
#include "PeerSettings.h"
#include "Simulator.h"

int main(int argc, char** argv) {
    try {
        const QeltSim::Options options = QeltSim::ParseOptions(argc, argv);
        if (options.help) {
            std::fputs(QeltSim::UsageText(), stdout);
            std::fputs(QeltSim::PeerSettingsHelp(), stdout);
            return 0;
        }
        QeltSim::Simulator simulator(options);
        return simulator.Run();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "qeltble-sim: %s\n", error.what());
        return 2;
    }
}
