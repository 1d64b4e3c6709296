#include "PeerSettings.h"

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <vector>

#include "PeerCatalog.h"

namespace QeltSim {

namespace {

// The most channels an amplifier can describe (a channel record numbers its
// channel in one byte). Hosts accept fewer; describing more lets a test see
// them refused.
constexpr long long kMaxChannels = 255;
// The longest attribute value ATT allows.
constexpr long long kMaxValueLength = 512;

std::vector<std::string> SplitList(const std::string& text) {
    std::vector<std::string> items;
    std::string item;
    std::istringstream stream(text);
    while (std::getline(stream, item, ',')) {
        const auto first = item.find_first_not_of(" \t");
        const auto last = item.find_last_not_of(" \t");
        items.push_back(first == std::string::npos ? "" : item.substr(first, last - first + 1));
    }
    return items;
}

bool ParseInteger(const std::string& text, long long low, long long high, long long& out) {
    if (text.empty()) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || value < low || value > high) {
        return false;
    }
    out = value;
    return true;
}

bool ParseFloat(const std::string& text, float& out) {
    if (text.empty()) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const float value = std::strtof(text.c_str(), &end);
    if (errno != 0 || *end != '\0') {
        return false;
    }
    out = value;
    return true;
}

bool ParseBool(const std::string& text, bool& out) {
    if (text == "yes" || text == "true" || text == "on" || text == "1") {
        out = true;
        return true;
    }
    if (text == "no" || text == "false" || text == "off" || text == "0") {
        out = false;
        return true;
    }
    return false;
}

bool ParseHexBytes(const std::string& text, std::vector<uint8_t>& out) {
    if (text.size() % 2 != 0) {
        return false;
    }
    out.clear();
    for (size_t i = 0; i < text.size(); i += 2) {
        long long byte = 0;
        if (!ParseInteger("0x" + text.substr(i, 2), 0, 255, byte)) {
            return false;
        }
        out.push_back(static_cast<uint8_t>(byte));
    }
    return true;
}

bool IsAddress(const std::string& text) {
    if (text.size() != 17) {
        return false;
    }
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (i % 3 == 2 ? c != ':' : !std::isxdigit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

using Setter = std::function<bool(PeerConfig&, const std::string&)>;

template <class T>
Setter IntegerSetter(T AmplifierConfig::*field, long long low, long long high) {
    return [field, low, high](PeerConfig& config, const std::string& value) {
        long long n = 0;
        if (!ParseInteger(value, low, high, n)) {
            return false;
        }
        config.amplifier.*field = static_cast<T>(n);
        return true;
    };
}

Setter TextSetter(std::string AmplifierConfig::*field) {
    return [field](PeerConfig& config, const std::string& value) {
        config.amplifier.*field = value;
        return true;
    };
}

Setter FlagSetter(bool PeerConfig::*field) {
    return [field](PeerConfig& config, const std::string& value) {
        return ParseBool(value, config.*field);
    };
}

bool SetChannels(PeerConfig& config, const std::string& value) {
    long long count = 0;
    if (!ParseInteger(value, 1, kMaxChannels, count)) {
        return false;
    }
    // Keep a trailing counter channel of the legacy default where there is one.
    const bool counter =
        !config.amplifier.channels.empty() && config.amplifier.channels.back().type == 5;
    const ChannelConfig eeg =
        config.amplifier.channels.empty() ? ChannelConfig{} : config.amplifier.channels.front();
    config.amplifier.channels.assign(static_cast<size_t>(count),
                                     eeg.type == 5 ? ChannelConfig{} : eeg);
    if (counter && count > 1) {
        config.amplifier.channels.back() = ChannelConfig{5, 1.0f};
    }
    return true;
}

bool SetChannelTypes(PeerConfig& config, const std::string& value) {
    const auto items = SplitList(value);
    if (items.empty() || items.size() > static_cast<size_t>(kMaxChannels)) {
        return false;
    }
    config.amplifier.channels.resize(items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        long long type = 0;
        if (!ParseInteger(items[i], 0, 255, type)) {
            return false;
        }
        config.amplifier.channels[i].type = static_cast<uint8_t>(type);
    }
    return true;
}

bool SetScales(PeerConfig& config, const std::string& value) {
    const auto items = SplitList(value);
    if (items.empty() || items.size() > static_cast<size_t>(kMaxChannels)) {
        return false;
    }
    config.amplifier.channels.resize(std::max(config.amplifier.channels.size(), items.size()));
    for (size_t i = 0; i < items.size(); ++i) {
        if (!ParseFloat(items[i], config.amplifier.channels[i].scale)) {
            return false;
        }
    }
    return true;
}

bool SetFilters(PeerConfig& config, const std::string& value) {
    config.amplifier.filters.clear();
    if (value.empty() || value == "none") {
        return true;
    }
    // "id:hex28" entries, or just channel ids (with zero filter data).
    for (const auto& item : SplitList(value)) {
        FilterConfig filter;
        const auto colon = item.find(':');
        long long id = 0;
        if (!ParseInteger(item.substr(0, colon), 1, 65535, id)) {
            return false;
        }
        filter.channelId = static_cast<uint16_t>(id);
        if (colon != std::string::npos) {
            std::vector<uint8_t> bytes;
            if (!ParseHexBytes(item.substr(colon + 1), bytes) || bytes.size() > 14) {
                return false;
            }
            std::copy(bytes.begin(), bytes.end(), filter.data.begin());
        }
        config.amplifier.filters.push_back(filter);
    }
    return true;
}

// A signed setting of the record faults: a length or a limit, -1 for none.
Setter RecordFaultSetter(int32_t RecordFaults::*field, long long high) {
    return [field, high](PeerConfig& config, const std::string& value) {
        long long n = 0;
        if (!ParseInteger(value, -1, high, n)) {
            return false;
        }
        config.amplifier.faults.records.*field = static_cast<int32_t>(n);
        return true;
    };
}

// A count the amplifier configuration reports; -1 for the model's own.
Setter ReportedCountSetter(std::optional<uint16_t> RecordFaults::*field) {
    return [field](PeerConfig& config, const std::string& value) {
        long long n = 0;
        if (!ParseInteger(value, -1, 65535, n)) {
            return false;
        }
        auto& count = config.amplifier.faults.records.*field;
        count = n < 0 ? std::nullopt : std::optional<uint16_t>(static_cast<uint16_t>(n));
        return true;
    };
}

bool SetAmplifierValue(PeerConfig& config, const std::string& value) {
    auto& served = config.amplifier.faults.records.amplifierValue;
    if (value == "model") {
        served.reset();
        return true;
    }
    std::vector<uint8_t> bytes;
    if (!ParseHexBytes(value, bytes) || bytes.size() > static_cast<size_t>(kMaxValueLength)) {
        return false;
    }
    served = std::move(bytes);
    return true;
}

// "SLOT:ID" entries: the payload record of that slot names channel ID.
bool SetPayloadRecordChannels(PeerConfig& config, const std::string& value) {
    auto& channels = config.amplifier.faults.records.payloadChannels;
    channels.clear();
    if (value.empty() || value == "none") {
        return true;
    }
    for (const auto& item : SplitList(value)) {
        const auto colon = item.find(':');
        long long slot = 0;
        long long id = 0;
        if (colon == std::string::npos || !ParseInteger(item.substr(0, colon), 0, 65535, slot) ||
            !ParseInteger(item.substr(colon + 1), 0, 65535, id)) {
            return false;
        }
        channels[static_cast<uint16_t>(slot)] = static_cast<uint16_t>(id);
    }
    return true;
}

const std::map<std::string, Setter>& Setters() {
    static const std::map<std::string, Setter> setters = {
        {"generation",
         [](PeerConfig& config, const std::string& value) {
             if (value != "legacy" && value != "nus") {
                 return false;
             }
             const Generation generation = value == "nus" ? Generation::Nus : Generation::Legacy;
             if (generation != config.amplifier.generation) {
                 // Take the other generation's model and advertised service.
                 const std::string name = config.Key();
                 const PeerConfig fresh = MakeAmplifier(name, generation);
                 config.uuids = fresh.uuids;
                 config.manufacturerData = fresh.manufacturerData;
                 AmplifierConfig amplifier = fresh.amplifier;
                 amplifier.faults = config.amplifier.faults;
                 config.amplifier = amplifier;
             }
             return true;
         }},
        {"name",
         [](PeerConfig& config, const std::string& value) {
             config.name = value;
             return !value.empty();
         }},
        {"alias",
         [](PeerConfig& config, const std::string& value) {
             config.alias = value;
             return true;
         }},
        {"address",
         [](PeerConfig& config, const std::string& value) {
             config.address = value;
             for (char& c : config.address) {
                 c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
             }
             return IsAddress(value);
         }},
        {"address-type",
         [](PeerConfig& config, const std::string& value) {
             config.addressType = value;
             return value == "public" || value == "random";
         }},
        {"remembered", FlagSetter(&PeerConfig::remembered)},
        {"paired", FlagSetter(&PeerConfig::paired)},
        {"trusted", FlagSetter(&PeerConfig::trusted)},
        {"powered", FlagSetter(&PeerConfig::poweredOn)},
        {"rssi",
         [](PeerConfig& config, const std::string& value) {
             long long n = 0;
             if (!ParseInteger(value, -127, 20, n) || n == 0) {
                 return false;
             }
             config.rssi = static_cast<int16_t>(n);
             return true;
         }},
        {"tx-power",
         [](PeerConfig& config, const std::string& value) {
             long long n = 0;
             if (!ParseInteger(value, -127, 126, n)) {
                 return false;
             }
             config.txPower = static_cast<int16_t>(n);
             return true;
         }},
        {"channels", SetChannels},
        {"channel-types", SetChannelTypes},
        {"scales", SetScales},
        {"filters", SetFilters},
        {"frames-per-notification", IntegerSetter(&AmplifierConfig::framesPerNotification, 1, 64)},
        {"sampling-rate", IntegerSetter(&AmplifierConfig::samplingRate, 1, 65535)},
        {"battery", IntegerSetter(&AmplifierConfig::battery, 0, 255)},
        {"model-number", TextSetter(&AmplifierConfig::modelNumber)},
        {"serial-number", TextSetter(&AmplifierConfig::serialNumber)},
        {"firmware-revision", TextSetter(&AmplifierConfig::firmwareRevision)},
        {"hardware-revision", TextSetter(&AmplifierConfig::hardwareRevision)},
        {"manufacturer-name", TextSetter(&AmplifierConfig::manufacturerName)},
        {"bytes-per-sample", IntegerSetter(&AmplifierConfig::nusBytesPerSample, 3, 4)},
        {"byte-order",
         [](PeerConfig& config, const std::string& value) {
             config.amplifier.nusLittleEndian = value == "little";
             return value == "little" || value == "big";
         }},
        {"connect-failures",
         [](PeerConfig& config, const std::string& value) {
             long long n = 0;
             if (!ParseInteger(value, 0, 1000000, n)) {
                 return false;
             }
             config.amplifier.faults.connectFailures = static_cast<uint32_t>(n);
             return true;
         }},
        {"connect-error",
         [](PeerConfig& config, const std::string& value) {
             config.amplifier.faults.connectErrorName = value;
             return value.find('.') != std::string::npos;
         }},
        {"connect-error-message",
         [](PeerConfig& config, const std::string& value) {
             config.amplifier.faults.connectErrorMessage = value;
             return true;
         }},
        {"services-never-resolve",
         [](PeerConfig& config, const std::string& value) {
             return ParseBool(value, config.amplifier.faults.servicesNeverResolve);
         }},
        {"services-resolved-first",
         [](PeerConfig& config, const std::string& value) {
             return ParseBool(value, config.amplifier.faults.resolvedBeforeObjects);
         }},
        {"config-record-limit", RecordFaultSetter(&RecordFaults::recordLimit, 65535)},
        {"channel-record-limit", RecordFaultSetter(&RecordFaults::channelLimit, 65535)},
        {"payload-record-limit", RecordFaultSetter(&RecordFaults::payloadLimit, 65535)},
        {"filter-record-limit", RecordFaultSetter(&RecordFaults::filterLimit, 65535)},
        {"amplifier-config", SetAmplifierValue},
        {"amplifier-config-length",
         RecordFaultSetter(&RecordFaults::amplifierLength, kMaxValueLength)},
        {"channel-record-length", RecordFaultSetter(&RecordFaults::channelLength, kMaxValueLength)},
        {"payload-record-length", RecordFaultSetter(&RecordFaults::payloadLength, kMaxValueLength)},
        {"filter-record-length", RecordFaultSetter(&RecordFaults::filterLength, kMaxValueLength)},
        {"reported-channel-count", ReportedCountSetter(&RecordFaults::channelCount)},
        {"reported-channel-config-count", ReportedCountSetter(&RecordFaults::channelConfigCount)},
        {"reported-payload-config-count", ReportedCountSetter(&RecordFaults::payloadConfigCount)},
        {"reported-filter-config-count", ReportedCountSetter(&RecordFaults::filterConfigCount)},
        {"payload-record-channels", SetPayloadRecordChannels},
        {"missing-characteristics",
         [](PeerConfig& config, const std::string& value) {
             config.amplifier.faults.missingCharacteristics.clear();
             for (auto uuid : SplitList(value)) {
                 if (uuid.empty()) {
                     continue;
                 }
                 for (char& c : uuid) {
                     c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                 }
                 config.amplifier.faults.missingCharacteristics.push_back(uuid);
             }
             return true;
         }},
        {"offer-both-services",
         [](PeerConfig& config, const std::string& value) {
             return ParseBool(value, config.amplifier.faults.offerBothServices);
         }},
    };
    return setters;
}

}  // namespace

bool ApplyPeerSetting(PeerConfig& config, const std::string& key, const std::string& value,
                      std::string& error) {
    const auto& setters = Setters();
    const auto it = setters.find(key);
    if (it == setters.end()) {
        error = "unknown setting '" + key + "'";
        return false;
    }
    if (!it->second(config, value)) {
        error = "invalid value '" + value + "' for '" + key + "'";
        return false;
    }
    return true;
}

bool ValidateAmplifier(const PeerConfig& config, std::string& error) {
    const AmplifierConfig& amplifier = config.amplifier;
    if (config.Key().empty()) {
        error = "an amplifier needs a name (its serial number)";
        return false;
    }
    if (amplifier.channels.empty() ||
        amplifier.channels.size() > static_cast<size_t>(kMaxChannels)) {
        error = "an amplifier has 1 to " + std::to_string(kMaxChannels) + " channels";
        return false;
    }
    // One notification must fit an ATT notification of the largest MTU.
    size_t slots = 0;
    for (const auto& channel : amplifier.channels) {
        slots += channel.type == 5 && amplifier.generation == Generation::Legacy
                     ? 1
                     : amplifier.framesPerNotification;
    }
    const size_t width =
        amplifier.generation == Generation::Legacy ? 3 : amplifier.nusBytesPerSample;
    if (slots * width > 512) {
        error = "one notification would carry " + std::to_string(slots * width) +
                " bytes (at most 512)";
        return false;
    }
    for (const auto& filter : amplifier.filters) {
        if (filter.channelId == 0 || filter.channelId > amplifier.channels.size()) {
            error = "a filter names channel " + std::to_string(filter.channelId) +
                    ", which does not exist";
            return false;
        }
    }
    return true;
}

const char* PeerSettingsHelp() {
    return R"(  generation=legacy|nus        protocol generation (default legacy)
  name=TEXT                    advertised name (an amplifier's serial number)
  alias=TEXT                   alias (a device without name shows its address)
  address=XX:XX:XX:XX:XX:XX    Bluetooth address (default derived from the name)
  address-type=public|random
  remembered=yes|no            in BlueZ's tree from the start (default no)
  paired=yes|no, trusted=yes|no
  powered=yes|no               switched on, advertising (default yes)
  rssi=-127..20, tx-power=N    signal strength and advertised TX power
  channels=N                   channel count, 1..255 (legacy keeps its counter last;
                               hosts accept at most 62)
  channel-types=T,T,...        channel type codes (5 = sample counter)
  scales=S,S,...               per-channel scale factors
  filters=ID[:HEX],...|none    filter records (14 bytes of filter data in hex)
  frames-per-notification=N    frames in one sample notification (1..64)
  sampling-rate=HZ             samples per second and channel
  battery=PERCENT              battery level (2A19)
  model-number=, serial-number=, firmware-revision=, hardware-revision=,
  manufacturer-name=           Device Information strings (any length)
  bytes-per-sample=3|4, byte-order=big|little   NUS-generation sample format
  connect-failures=N           the next N Connect calls fail with
  connect-error=NAME, connect-error-message=TEXT
  services-never-resolve=yes   ServicesResolved never becomes true
  services-resolved-first=yes  ServicesResolved before the GATT objects appear
  config-record-limit=K        configuration bursts stop after K records (-1: all)
  channel-record-limit=K, payload-record-limit=K, filter-record-limit=K
                               the same for one kind of record only
  amplifier-config=HEX|model   raw amplifier configuration served (default model)
  amplifier-config-length=K    the amplifier configuration cut to K bytes (-1: whole)
  channel-record-length=K, payload-record-length=K, filter-record-length=K
                               each record of that kind cut to K bytes (-1: whole)
  reported-channel-count=N, reported-channel-config-count=N,
  reported-payload-config-count=N, reported-filter-config-count=N
                               counts the amplifier configuration reports
                               instead of the model's (-1: the model's)
  payload-record-channels=SLOT:ID,...|none   payload records naming channel ID
                               for the slot at position SLOT of the layout
  missing-characteristics=UUID,...   characteristics left out of the database
  offer-both-services=yes      the data service and the UART service together
)";
}

}  // namespace QeltSim
