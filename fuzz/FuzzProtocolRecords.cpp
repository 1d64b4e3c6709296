// Feeds arbitrary characteristic values to the configuration record and
// battery decoders of both handlers and checks each result against a plain
// byte-by-byte reading of the value.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "FuzzOutcome.h"
#include "protocol/Parser.h"
#include "protocol/QeltLegacyProtocolHandler.h"
#include "protocol/QeltNusProtocolHandler.h"

using namespace Qelt::BLE;
using namespace Qelt::BLE::Fuzz;

namespace {

constexpr unsigned char kMarker = 0xA5;

uint16_t Little16(const std::string& value, std::size_t offset) {
    return static_cast<uint16_t>(static_cast<unsigned char>(value[offset]) |
                                 (static_cast<unsigned char>(value[offset + 1]) << 8));
}

Outcome ExpectedAmplifier(const std::string& value, bool handlerLimit) {
    if (value.size() < 16) {
        return Failure("Truncated amplifier configuration.", 3);
    }
    const uint16_t channelCount = Little16(value, 2);
    const uint16_t channelConfigCount = Little16(value, 10);
    const uint16_t payloadConfigCount = Little16(value, 12);
    if (channelCount != channelConfigCount) {
        return Failure("Invalid amplifier configuration.", 3);
    }
    if (payloadConfigCount == 0) {
        return Failure("Invalid payload configuration.", 3);
    }
    if (channelConfigCount == 0) {
        return Failure("Invalid channel configuration.", 3);
    }
    if (handlerLimit && channelConfigCount > 62) {
        return Failure("Amplifier reports too many channels.", 3);
    }
    return {};
}

// The record holds the first bytes of the value when the value was long
// enough, and is untouched otherwise.
template <typename Record>
void RequireRecordContents(const Record& record, const std::string& value, const char* what) {
    unsigned char bytes[sizeof(Record)];
    std::memcpy(bytes, &record, sizeof(Record));
    if (value.size() >= sizeof(Record)) {
        Require(std::memcmp(bytes, value.data(), sizeof(Record)) == 0, what);
    } else {
        for (unsigned char b : bytes) {
            Require(b == kMarker, what);
        }
    }
}

template <typename Record>
Record Marked() {
    Record record;
    std::memset(&record, kMarker, sizeof(Record));
    return record;
}

template <typename Record, typename Decode>
void CheckSimpleRecord(const std::string& value, std::size_t size, const char* truncated,
                       Decode decode) {
    Record record = Marked<Record>();
    const Outcome expected = value.size() < size ? Failure(truncated, 3) : Outcome{};
    RequireSame(Observe([&] { decode(record); }), expected, truncated);
    RequireRecordContents(record, value, truncated);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string value(reinterpret_cast<const char*>(data), size);
    QeltLegacyProtocolHandler legacy;
    QeltNusProtocolHandler nus;

    // Amplifier: the handler applies the channel limit on top of the free
    // decoder; both keep the copied bytes when a check fails.
    auto amplifier = Marked<QELTBLE_AMPLIFIER_CONFIGURATION>();
    RequireSame(Observe([&] { legacy.ParseAmplifierConfiguration(value, &amplifier); }),
                ExpectedAmplifier(value, true), "handler amplifier decoder");
    RequireRecordContents(amplifier, value, "handler amplifier record");
    amplifier = Marked<QELTBLE_AMPLIFIER_CONFIGURATION>();
    RequireSame(Observe([&] { Parser::AmplifierConfiguration(value, amplifier); }),
                ExpectedAmplifier(value, false), "free amplifier decoder");
    RequireRecordContents(amplifier, value, "free amplifier record");

    CheckSimpleRecord<QELTBLE_CHANNEL_CONFIGURATION>(
        value, 8, "Truncated channel configuration.",
        [&](QELTBLE_CHANNEL_CONFIGURATION& r) { legacy.ParseChannelConfiguration(value, &r); });
    CheckSimpleRecord<QELTBLE_PAYLOADCHANNEL_CONFIGURATION>(
        value, 4, "Truncated payload configuration.", [&](QELTBLE_PAYLOADCHANNEL_CONFIGURATION& r) {
            legacy.ParsePayloadChannelConfiguration(value, &r);
        });
    CheckSimpleRecord<QELTBLE_FILTERCHANNEL_CONFIGURATION>(
        value, 16, "Truncated filter configuration.", [&](QELTBLE_FILTERCHANNEL_CONFIGURATION& r) {
            legacy.ParseFilterChannelConfiguration(value, &r);
        });

    // The NUS handler decodes no records.
    auto untouched = Marked<QELTBLE_FILTERCHANNEL_CONFIGURATION>();
    nus.ParseFilterChannelConfiguration(value, &untouched);
    RequireRecordContents(untouched, std::string(), "NUS filter record");

    // Battery: the first byte; empty is an error only for the legacy handler.
    const uint8_t first = value.empty() ? 0 : data[0];
    uint8_t level = 0;
    RequireSame(Observe([&] { level = legacy.ParseBatteryLevel(value); }),
                value.empty() ? Failure("Empty battery level value.", 3) : Outcome{},
                "legacy battery decoder");
    Require(level == first, "legacy battery level");
    Require(nus.ParseBatteryLevel(value) == first, "NUS battery level");
    return 0;
}
