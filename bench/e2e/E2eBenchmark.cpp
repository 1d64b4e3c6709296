// End-to-end streaming benchmark: the simulator floods the sample
// notifications of an 8-channel legacy amplifier (plus its counter channel,
// one frame per notification) to three receivers, each on a private bus with
// a simulator of its own; their floods take turns, one after the other:
//
//   (a) a bare sd-bus consumer that only reads Value (the floor),
//   (b) the library, delivering each frame to a per-frame callback,
//   (c) python3-bleak's start_notify.
//
// All three subscribe as BlueZ clients do (StartNotify on the sample
// characteristic) and run as child processes, so each one's CPU is its own.
// Prints one table; figures are never turned into a failure. The exit status
// is not 0 only when a receiver could not be run.
//
//   bench_e2e [--quick] [--count N] [--repeat N] [--receivers a,b,c] [--python PATH]
//             [--wrap 'CMD']
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "Contender.h"
#include "ResultTable.h"

#ifndef QELTBLE_E2E_BARE_RECEIVER
#error "QELTBLE_E2E_BARE_RECEIVER must name the bare receiver"
#endif
#ifndef QELTBLE_E2E_LIBRARY_RECEIVER
#error "QELTBLE_E2E_LIBRARY_RECEIVER must name the library receiver"
#endif
#ifndef QELTBLE_E2E_BLEAK_RECEIVER
#error "QELTBLE_E2E_BLEAK_RECEIVER must name the Bleak receiver script"
#endif

namespace Qelt::BLE::Bench {

namespace {

constexpr const char* kSerial = "EB-0001.00.01";
// Eight EEG channels and the counter channel, 3 bytes each.
constexpr int kChannels = 9;
constexpr const char* kChannelTypes = "channel-types=1,1,1,1,1,1,1,1,5";
constexpr int kBytesPerSample = 3;

struct Options {
    uint64_t count = 100'000;
    int repeat = 5;
    uint64_t warmUp = 10'000;
    std::vector<Receiver> receivers{Receiver::Bare, Receiver::Library, Receiver::Bleak};
    std::string python = "/usr/bin/python3";
    std::vector<std::string> wrapper;
};

void Usage(std::FILE* out) {
    std::fprintf(out,
                 "usage: bench_e2e [--quick] [--count N] [--repeat N] [--receivers a,b,c]\n"
                 "                 [--python PATH] [--wrap 'CMD']\n"
                 "  --quick         1 run of 5000 notifications per receiver (a few seconds)\n"
                 "  --count N       notifications per flood (default 100000)\n"
                 "  --repeat N      measured floods per receiver (default 5; medians shown)\n"
                 "  --receivers L   which receivers run, of a (bare sd-bus), b (library),\n"
                 "                  c (python3-bleak); default a,b,c\n"
                 "  --python PATH   interpreter for the Bleak receiver (default "
                 "/usr/bin/python3)\n"
                 "  --wrap 'CMD'    start each receiver under CMD, a profiler for example\n"
                 "                  (its CPU figures then include the profiler's)\n");
}

std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream stream(text);
    std::string word;
    while (stream >> word) {
        words.push_back(word);
    }
    return words;
}

bool ParseReceivers(const std::string& list, std::vector<Receiver>& receivers) {
    receivers.clear();
    for (const char c : list) {
        if (c == 'a') {
            receivers.push_back(Receiver::Bare);
        } else if (c == 'b') {
            receivers.push_back(Receiver::Library);
        } else if (c == 'c') {
            receivers.push_back(Receiver::Bleak);
        } else if (c != ',') {
            return false;
        }
    }
    return !receivers.empty();
}

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--quick") {
            options.count = 5'000;
            options.repeat = 1;
            options.warmUp = 500;
        } else if (arg == "--count" && hasValue) {
            options.count = std::strtoull(argv[++i], nullptr, 10);
            options.warmUp = options.count / 10;
        } else if (arg == "--repeat" && hasValue) {
            options.repeat = std::atoi(argv[++i]);
        } else if (arg == "--receivers" && hasValue) {
            if (!ParseReceivers(argv[++i], options.receivers)) {
                return false;
            }
        } else if (arg == "--python" && hasValue) {
            options.python = argv[++i];
        } else if (arg == "--wrap" && hasValue) {
            options.wrapper = Words(argv[++i]);
        } else {
            return false;
        }
    }
    return options.count > 0 && options.repeat > 0;
}

// The amplifier keeps its default sampling rate (256 Hz): its regular stream
// goes on between the floods, and the library fills counter gaps up to that
// many frames.
std::vector<std::string> SimulatorOptions() {
    return {"--no-default-devices",
            "--scan-interval-ms",
            "50",
            "--disconnect-delay-ms",
            "50",
            "--amplifier",
            std::string(kSerial) + ":legacy",
            "--set",
            "channels=" + std::to_string(kChannels),
            "--set",
            kChannelTypes,
            "--set",
            "frames-per-notification=1"};
}

// The 1-minute load average: other work on the machine skews the figures.
std::string LoadAverage() {
    std::FILE* file = std::fopen("/proc/loadavg", "r");
    double load = 0;
    const bool read = file != nullptr && std::fscanf(file, "%lf", &load) == 1;
    if (file != nullptr) {
        std::fclose(file);
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", load);
    return read ? text : "unknown";
}

struct Entry {
    std::unique_ptr<Contender> contender;
    std::vector<FloodResult> runs;
};

// Starts every receiver, each with its own bus and simulator, and warms each
// up with a flood that is not counted. A receiver that cannot be run is
// reported and left out.
std::vector<Entry> StartContenders(const Options& options, int& status) {
    const ContenderSetup setup{kSerial,
                               SimulatorOptions(),
                               QELTBLE_E2E_BARE_RECEIVER,
                               QELTBLE_E2E_LIBRARY_RECEIVER,
                               options.python,
                               QELTBLE_E2E_BLEAK_RECEIVER,
                               options.wrapper};
    std::vector<Entry> entries;
    for (const Receiver receiver : options.receivers) {
        try {
            auto contender = std::make_unique<Contender>(receiver, setup);
            if (options.warmUp > 0) {
                contender->Flood(options.warmUp);
            }
            entries.push_back({std::move(contender), {}});
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s: %s\n", ResultTable::Label(receiver), e.what());
            status = 1;
        }
    }
    return entries;
}

// The measured floods take turns: a, b, c, a, b, c, ...
void MeasureInTurns(std::vector<Entry>& entries, const Options& options, int& status) {
    for (int run = 1; run <= options.repeat; ++run) {
        for (Entry& entry : entries) {
            if (!entry.contender) {
                continue;
            }
            const char* label = ResultTable::Label(entry.contender->Kind());
            try {
                const FloodResult result = entry.contender->Flood(options.count);
                std::fprintf(stderr,
                             "%s, run %d/%d: %.0f notifications/s, %.2f us each, lost %lld\n",
                             label, run, options.repeat, result.perSecond, result.cpuUsEach,
                             static_cast<long long>(result.lost));
                entry.runs.push_back(result);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "%s: %s\n", label, e.what());
                entry.contender.reset();
                status = 1;
            }
        }
    }
}

std::string Heading(const Options& options) {
    char text[400];
    std::snprintf(
        text, sizeof text,
        "End-to-end streaming: legacy amplifier, 8 EEG channels + counter, 1 frame per "
        "notification (%d bytes)\nfloods of %llu notifications, %d per receiver%s, taking "
        "turns; each receiver has a private bus and a simulator of its own",
        kChannels * kBytesPerSample, static_cast<unsigned long long>(options.count), options.repeat,
        options.repeat > 1 ? " (medians)" : "");
    return text;
}

}  // namespace

}  // namespace Qelt::BLE::Bench

int main(int argc, char** argv) {
    using namespace Qelt::BLE::Bench;
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        Usage(stderr);
        return 2;
    }
    // A receiver that died must not take the benchmark with it.
    signal(SIGPIPE, SIG_IGN);
    const std::string loadBefore = LoadAverage();
    int status = 0;
    std::vector<Entry> entries = StartContenders(options, status);
    MeasureInTurns(entries, options, status);
    ResultTable table(Heading(options) + "\nload average before " + loadBefore + ", after " +
                      LoadAverage() + " (other work on the machine skews the figures)");
    for (Entry& entry : entries) {
        if (entry.contender) {
            entry.contender->Stop();
            table.Add(entry.contender->Kind(), std::move(entry.runs));
        }
    }
    table.Print(stdout);
    return status;
}
