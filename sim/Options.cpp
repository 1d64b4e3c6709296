#include "Options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "PeerCatalog.h"
#include "PeerSettings.h"

namespace QeltSim {

namespace {

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return "";
    }
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

uint64_t ParseSeconds(const std::string& text, const std::string& what) {
    errno = 0;
    char* end = nullptr;
    const double seconds = std::strtod(text.c_str(), &end);
    if (text.empty() || errno != 0 || *end != '\0' || !std::isfinite(seconds) || seconds < 0 ||
        seconds > 86400) {
        throw std::runtime_error("invalid " + what + ": '" + text + "'");
    }
    return static_cast<uint64_t>(seconds * 1e6);
}

// Milliseconds as text, in microseconds.
uint64_t ParseMilliseconds(const std::string& text, const std::string& what) {
    return ParseSeconds(text, what) / 1000;
}

void ApplyOrThrow(PeerConfig& config, const std::string& key, const std::string& value,
                  const std::string& where) {
    std::string error;
    if (!ApplyPeerSetting(config, key, value, error)) {
        throw std::runtime_error(where + ": " + error);
    }
}

// "SERIAL", "SERIAL:legacy" or "SERIAL:nus".
PeerConfig AmplifierFromArgument(const std::string& argument) {
    const auto colon = argument.rfind(':');
    std::string serial = argument;
    Generation generation = Generation::Legacy;
    if (colon != std::string::npos) {
        const std::string kind = argument.substr(colon + 1);
        if (kind != "legacy" && kind != "nus") {
            throw std::runtime_error("--amplifier: unknown generation '" + kind + "'");
        }
        generation = kind == "nus" ? Generation::Nus : Generation::Legacy;
        serial = argument.substr(0, colon);
    }
    if (serial.empty()) {
        throw std::runtime_error("--amplifier needs a serial number");
    }
    return MakeAmplifier(serial, generation);
}

void ApplySimulatorSetting(Options& options, const std::string& key, const std::string& value,
                           const std::string& where) {
    if (key == "adapter") {
        if (value == "on") {
            options.adapter = AdapterMode::On;
        } else if (value == "off") {
            options.adapter = AdapterMode::Off;
        } else if (value == "none") {
            options.adapter = AdapterMode::None;
        } else {
            throw std::runtime_error(where + ": adapter is on, off or none");
        }
    } else if (key == "temporary-timeout") {
        options.timings.temporaryTimeoutUsec = ParseSeconds(value, key);
    } else if (key == "disconnect-delay-ms") {
        options.timings.disconnectDelayUsec = ParseMilliseconds(value, key);
    } else if (key == "scan-interval-ms") {
        options.timings.scanIntervalUsec = ParseMilliseconds(value, key);
    } else if (key == "battery-interval-ms") {
        options.timings.batteryIntervalUsec = ParseMilliseconds(value, key);
    } else if (key == "default-devices") {
        options.defaultPeers = value == "yes" || value == "true" || value == "on";
    } else {
        throw std::runtime_error(where + ": unknown setting '" + key + "'");
    }
}

void FinishPeer(PeerConfig& config, const std::string& where) {
    if (config.kind == PeerKind::Amplifier) {
        std::string error;
        if (!ValidateAmplifier(config, error)) {
            throw std::runtime_error(where + ": " + error);
        }
    }
}

}  // namespace

void LoadScenario(const std::string& path, Options& options) {
    std::ifstream file(path);
    if (!file) {
        throw std::runtime_error("cannot read scenario file '" + path + "'");
    }
    enum class Section { None, Simulator, Peer };
    Section section = Section::None;
    PeerConfig* peer = nullptr;
    std::string line;
    int number = 0;
    while (std::getline(file, line)) {
        ++number;
        const std::string where = path + ":" + std::to_string(number);
        line = Trim(line);
        if (line.empty() || line[0] == '#' || line[0] == ';') {
            continue;
        }
        if (line.front() == '[') {
            if (line.back() != ']') {
                throw std::runtime_error(where + ": unterminated section header");
            }
            if (peer != nullptr) {
                FinishPeer(*peer, where);
            }
            peer = nullptr;
            const std::string header = Trim(line.substr(1, line.size() - 2));
            const auto space = header.find(' ');
            const std::string kind = header.substr(0, space);
            const std::string argument =
                space == std::string::npos ? "" : Trim(header.substr(space + 1));
            if (kind == "simulator") {
                section = Section::Simulator;
                continue;
            }
            section = Section::Peer;
            if (kind == "amplifier") {
                options.peers.push_back(MakeAmplifier(argument, Generation::Legacy));
            } else if (kind == "phone") {
                options.peers.push_back(MakePhone());
            } else if (kind == "headset") {
                options.peers.push_back(MakeHeadset());
            } else if (kind == "tag") {
                options.peers.push_back(MakeNamelessTag());
            } else {
                throw std::runtime_error(where + ": unknown section '" + kind + "'");
            }
            peer = &options.peers.back();
            if (kind == "amplifier" && argument.empty()) {
                throw std::runtime_error(where + ": [amplifier SERIAL] needs a serial number");
            }
            if (kind != "amplifier" && !argument.empty()) {
                peer->name = argument;
                peer->address = AddressFromText(argument);
            }
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string::npos) {
            throw std::runtime_error(where + ": expected key = value");
        }
        const std::string key = Trim(line.substr(0, equals));
        const std::string value = Trim(line.substr(equals + 1));
        if (section == Section::Simulator) {
            ApplySimulatorSetting(options, key, value, where);
        } else if (section == Section::Peer) {
            ApplyOrThrow(*peer, key, value, where);
        } else {
            throw std::runtime_error(where + ": setting outside a section");
        }
    }
    if (peer != nullptr) {
        FinishPeer(*peer, path);
    }
}

Options ParseOptions(int argc, char** argv) {
    Options options;
    std::vector<std::string> args(argv + 1, argv + argc);
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= args.size()) {
                throw std::runtime_error(arg + " needs a value");
            }
            return args[++i];
        };
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--amplifier") {
            options.peers.push_back(AmplifierFromArgument(value()));
        } else if (arg == "--set") {
            // KEY=VALUE for the peer added last.
            const std::string setting = value();
            const auto equals = setting.find('=');
            if (options.peers.empty() || equals == std::string::npos) {
                throw std::runtime_error("--set KEY=VALUE follows an --amplifier");
            }
            ApplyOrThrow(options.peers.back(), setting.substr(0, equals),
                         setting.substr(equals + 1), "--set");
        } else if (arg == "--scenario") {
            LoadScenario(value(), options);
        } else if (arg == "--no-default-devices") {
            options.defaultPeers = false;
        } else if (arg == "--adapter-off") {
            options.adapter = AdapterMode::Off;
        } else if (arg == "--no-adapter") {
            options.adapter = AdapterMode::None;
        } else if (arg == "--temporary-timeout") {
            options.timings.temporaryTimeoutUsec = ParseSeconds(value(), arg);
        } else if (arg == "--disconnect-delay-ms") {
            options.timings.disconnectDelayUsec = ParseMilliseconds(value(), arg);
        } else if (arg == "--scan-interval-ms") {
            options.timings.scanIntervalUsec = ParseMilliseconds(value(), arg);
        } else if (arg == "--battery-interval-ms") {
            options.timings.batteryIntervalUsec = ParseMilliseconds(value(), arg);
        } else {
            throw std::runtime_error("unknown option '" + arg + "' (see --help)");
        }
    }
    for (auto& peer : options.peers) {
        FinishPeer(peer, "amplifier " + peer.Key());
    }
    // Devices given explicitly replace the default neighbourhood.
    if (!options.peers.empty()) {
        options.defaultPeers = false;
    }
    if (options.defaultPeers) {
        options.peers = DefaultPeers();
    }
    if (options.timings.scanIntervalUsec == 0) {
        options.timings.scanIntervalUsec = 1000;
    }
    return options;
}

const char* UsageText() {
    return R"(Usage: qeltble-sim [OPTIONS]

A stand-in for the BlueZ daemon: owns org.bluez on the system bus (the bus
that DBUS_SYSTEM_BUS_ADDRESS names) and plays an adapter, amplifiers and other
Bluetooth devices. Scripted through org.qeltble.Simulator (see the README).

Options:
  --amplifier SERIAL[:legacy|:nus]  add an amplifier (repeatable)
  --set KEY=VALUE             change a setting of the amplifier added last
  --scenario FILE             read adapter settings and devices from FILE
  --no-default-devices        start without the default devices
  --adapter-off               the adapter starts powered off
  --no-adapter                there is no adapter (add one through the control
                              interface)
  --temporary-timeout SEC     how long a temporary device stays after it was
                              last heard (default 30)
  --disconnect-delay-ms MS    delay before Disconnect completes (default 2000)
  --scan-interval-ms MS       how often a discovering adapter hears each
                              advertiser (default 1000)
  --battery-interval-ms MS    battery notifications while streaming (default 5000)
  -h, --help                  show this text

Without devices on the command line or in a scenario the simulator starts
with one legacy amplifier (AB-1234.56.78), one NUS amplifier (CD-2345.67.89),
a phone, a headset and a tag that advertises no name.

Amplifier settings (--set, scenario files, control dictionaries):
)";
}

}  // namespace QeltSim
