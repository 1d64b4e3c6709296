#include "Contender.h"

#include <chrono>

namespace Qelt::BLE::Bench {

namespace {

constexpr auto kReadyLimit = std::chrono::seconds(60);

// .../dev_AA_BB_CC_DD_EE_FF -> AA:BB:CC:DD:EE:FF
std::string AddressOf(const std::string& devicePath) {
    std::string address = devicePath.substr(devicePath.rfind("dev_") + 4);
    for (char& c : address) {
        if (c == '_') {
            c = ':';
        }
    }
    return address;
}

std::vector<std::string> ReceiverCommand(Receiver receiver, const ContenderSetup& setup,
                                         const std::string& devicePath) {
    std::vector<std::string> command = setup.wrapper;
    switch (receiver) {
        case Receiver::Bare:
            command.insert(command.end(), {setup.bareReceiver, devicePath});
            break;
        case Receiver::Library:
            command.insert(command.end(), {setup.libraryReceiver, setup.serial});
            break;
        case Receiver::Bleak:
            command.insert(command.end(),
                           {setup.python, setup.bleakReceiver, AddressOf(devicePath)});
            break;
    }
    return command;
}

}  // namespace

Contender::Contender(Receiver receiver, const ContenderSetup& setup)
    : receiver_(receiver), sim_(std::make_unique<QeltTest::Simulator>(setup.simulatorOptions)) {
    const std::string devicePath = sim_->Amplifiers().at(setup.serial);
    process_ = std::make_unique<ReceiverProcess>(ReceiverCommand(receiver, setup, devicePath));
    process_->WaitUntilReady(kReadyLimit);
    meter_ = std::make_unique<FloodMeter>(*sim_, *process_, setup.serial);
}

}  // namespace Qelt::BLE::Bench
