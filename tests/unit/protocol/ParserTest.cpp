#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "ApiErrorAssertion.h"
#include "protocol/Parser.h"
#include "protocol/QeltLegacyProtocolHandler.h"

using namespace Qelt::BLE;
using Qelt::BLE::Testing::ThrowsApiError;

namespace {

// The 16 bytes of an amplifier record, little-endian as on the air.
std::string AmplifierBytes(uint16_t rate, uint16_t channels, uint16_t payloadSize,
                           uint16_t channelConfigs, uint16_t payloadConfigs, uint16_t filters) {
    std::string bytes;
    auto put16 = [&](uint16_t v) {
        bytes.push_back(static_cast<char>(v & 0xFF));
        bytes.push_back(static_cast<char>(v >> 8));
    };
    put16(rate);
    put16(channels);
    bytes.append("\x00\x00\xF0\x40", 4);  // 7.5f
    put16(payloadSize);
    put16(channelConfigs);
    put16(payloadConfigs);
    put16(filters);
    return bytes;
}

// A record-sized block of memory pre-filled with a marker, to see what a
// decoder wrote.
struct RecordBuffer {
    explicit RecordBuffer(std::size_t size) : bytes(size, 0x5A) {}
    bool Untouched() const {
        return std::all_of(bytes.begin(), bytes.end(), [](unsigned char b) { return b == 0x5A; });
    }
    std::vector<unsigned char> bytes;
};

struct Decoder {
    const char* name;
    std::size_t recordSize;
    const char* truncatedMessage;
    std::function<void(QeltLegacyProtocolHandler&, const std::string&, void*)> parse;
};

const std::vector<Decoder>& Decoders() {
    static const std::vector<Decoder> decoders = {
        {"amplifier", 16, "Truncated amplifier configuration.",
         [](QeltLegacyProtocolHandler& h, const std::string& v, void* r) {
             h.ParseAmplifierConfiguration(v, static_cast<QELTBLE_AMPLIFIER_CONFIGURATION*>(r));
         }},
        {"channel", 8, "Truncated channel configuration.",
         [](QeltLegacyProtocolHandler& h, const std::string& v, void* r) {
             h.ParseChannelConfiguration(v, static_cast<QELTBLE_CHANNEL_CONFIGURATION*>(r));
         }},
        {"payload channel", 4, "Truncated payload configuration.",
         [](QeltLegacyProtocolHandler& h, const std::string& v, void* r) {
             h.ParsePayloadChannelConfiguration(
                 v, static_cast<QELTBLE_PAYLOADCHANNEL_CONFIGURATION*>(r));
         }},
        {"filter channel", 16, "Truncated filter configuration.",
         [](QeltLegacyProtocolHandler& h, const std::string& v, void* r) {
             h.ParseFilterChannelConfiguration(
                 v, static_cast<QELTBLE_FILTERCHANNEL_CONFIGURATION*>(r));
         }},
    };
    return decoders;
}

}  // namespace

TEST(LegacyRecordDecoders, ShortValuesThrowAndLeaveTheRecordUntouched) {
    QeltLegacyProtocolHandler handler;
    for (const Decoder& decoder : Decoders()) {
        for (std::size_t length : {std::size_t{0}, std::size_t{1}, decoder.recordSize - 1}) {
            // A valid amplifier prefix, so that only the length can fail.
            const std::string value = AmplifierBytes(500, 8, 24, 8, 8, 0).substr(0, length);
            RecordBuffer record(decoder.recordSize);
            EXPECT_TRUE(ThrowsApiError([&] { decoder.parse(handler, value, record.bytes.data()); },
                                       decoder.truncatedMessage, 3))
                << decoder.name << ", " << length << " bytes";
            EXPECT_TRUE(record.Untouched()) << decoder.name << ", " << length << " bytes";
        }
    }
}

TEST(LegacyRecordDecoders, CopyTheRecordBytesVerbatimAndIgnoreTheRest) {
    QeltLegacyProtocolHandler handler;
    for (const Decoder& decoder : Decoders()) {
        const std::string value = AmplifierBytes(500, 8, 24, 8, 8, 0) + "extra";
        RecordBuffer record(decoder.recordSize + 4);  // a tail the decoder must not reach
        decoder.parse(handler, value, record.bytes.data());
        EXPECT_EQ(std::memcmp(record.bytes.data(), value.data(), decoder.recordSize), 0)
            << decoder.name;
        EXPECT_EQ(std::vector<unsigned char>(record.bytes.end() - 4, record.bytes.end()),
                  std::vector<unsigned char>(4, 0x5A))
            << decoder.name;
    }
}

TEST(LegacyRecordDecoders, FieldsSitAtTheirLittleEndianOffsets) {
    QeltLegacyProtocolHandler handler;
    QELTBLE_AMPLIFIER_CONFIGURATION amplifier{};
    handler.ParseAmplifierConfiguration(AmplifierBytes(0x01F4, 62, 0x0102, 62, 0x0304, 0x0506),
                                        &amplifier);
    EXPECT_EQ(amplifier.samplingRate, 500);
    EXPECT_EQ(amplifier.channelCount, 62);
    EXPECT_EQ(amplifier.auxValue, 7.5f);
    EXPECT_EQ(amplifier.payloadSize, 0x0102);
    EXPECT_EQ(amplifier.channelConfigCount, 62);
    EXPECT_EQ(amplifier.payloadConfigCount, 0x0304);
    EXPECT_EQ(amplifier.filterConfigCount, 0x0506);

    QELTBLE_CHANNEL_CONFIGURATION channel{};
    handler.ParseChannelConfiguration(std::string("\x07\x01\x05\x09\x00\x00\x00\x3F", 8), &channel);
    EXPECT_EQ(channel.channelId, 0x0107);
    EXPECT_EQ(channel.channelType, 5);
    EXPECT_EQ(channel.channelNumber, 9);
    EXPECT_EQ(channel.scale, 0.5f);

    QELTBLE_PAYLOADCHANNEL_CONFIGURATION slot{};
    handler.ParsePayloadChannelConfiguration(std::string("\x02\x00\x03\x01", 4), &slot);
    EXPECT_EQ(slot.channelId, 2);
    EXPECT_EQ(slot.sampleIndex, 0x0103);

    QELTBLE_FILTERCHANNEL_CONFIGURATION filter{};
    handler.ParseFilterChannelConfiguration(std::string("\x04\x00", 2) + std::string(14, '\x77'),
                                            &filter);
    EXPECT_EQ(filter.channelId, 4);
    EXPECT_EQ(filter.filterData[0], 0x77);
    EXPECT_EQ(filter.filterData[13], 0x77);
}

TEST(LegacyRecordDecoders, AmplifierChecksRunInOrderAfterTheCopy) {
    struct Case {
        uint16_t channels, channelConfigs, payloadConfigs;
        const char* message;  // null: accepted
    };
    const std::vector<Case> cases = {
        {8, 9, 8, "Invalid amplifier configuration."},
        {8, 9, 0, "Invalid amplifier configuration."},
        {0, 0, 0, "Invalid payload configuration."},
        {4, 4, 0, "Invalid payload configuration."},
        {0, 0, 1, "Invalid channel configuration."},
        {63, 63, 63, "Amplifier reports too many channels."},
        {65535, 65535, 1, "Amplifier reports too many channels."},
        {62, 62, 62, nullptr},
        {1, 1, 1, nullptr},
    };
    QeltLegacyProtocolHandler handler;
    for (const Case& c : cases) {
        const std::string value =
            AmplifierBytes(250, c.channels, 30, c.channelConfigs, c.payloadConfigs, 3);
        QELTBLE_AMPLIFIER_CONFIGURATION record{};
        if (c.message == nullptr) {
            EXPECT_NO_THROW(handler.ParseAmplifierConfiguration(value, &record)) << c.channels;
        } else {
            EXPECT_TRUE(ThrowsApiError([&] { handler.ParseAmplifierConfiguration(value, &record); },
                                       c.message, 3))
                << c.channels << "/" << c.channelConfigs << "/" << c.payloadConfigs;
        }
        // Accepted or not, the record holds the bytes of the value.
        EXPECT_EQ(std::memcmp(&record, value.data(), sizeof record), 0);
    }
}

TEST(RecordParser, FreeAmplifierDecoderLeavesTheChannelLimitToTheHandler) {
    QELTBLE_AMPLIFIER_CONFIGURATION record{};
    EXPECT_NO_THROW(Parser::AmplifierConfiguration(AmplifierBytes(1, 63, 3, 63, 1, 0), record));
    EXPECT_EQ(record.channelConfigCount, 63);
    EXPECT_TRUE(ThrowsApiError(
        [&] { Parser::AmplifierConfiguration(AmplifierBytes(1, 2, 3, 1, 1, 0), record); },
        "Invalid amplifier configuration.", 3));
    // The free decoders are safe on short values too.
    QELTBLE_CHANNEL_CONFIGURATION channel{};
    EXPECT_TRUE(ThrowsApiError([&] { Parser::ChannelConfiguration("abc", channel); },
                               "Truncated channel configuration.", 3));
    EXPECT_TRUE(ThrowsApiError([&] { Parser::BatteryLevel({}); }, "Empty battery level value.", 3));
    EXPECT_EQ(Parser::BatteryLevel("\x64"), 100);
}

TEST(LegacyRecordDecoders, MissingOutputRecordIsAnInvalidArgument) {
    QeltLegacyProtocolHandler handler;
    const std::string value(16, '\x01');
    EXPECT_TRUE(ThrowsApiError([&] { handler.ParseAmplifierConfiguration(value, nullptr); },
                               "Missing output record.", 4));
    EXPECT_TRUE(ThrowsApiError([&] { handler.ParseChannelConfiguration(value, nullptr); },
                               "Missing output record.", 4));
    EXPECT_TRUE(ThrowsApiError([&] { handler.ParsePayloadChannelConfiguration(value, nullptr); },
                               "Missing output record.", 4));
    EXPECT_TRUE(ThrowsApiError([&] { handler.ParseFilterChannelConfiguration(value, nullptr); },
                               "Missing output record.", 4));
}
