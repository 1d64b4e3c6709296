#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ApiErrorAssertion.h"
#include "protocol/QeltLegacyProtocolHandler.h"
#include "protocol/QeltNusProtocolHandler.h"

using namespace Qelt::BLE;
using Qelt::BLE::Testing::ThrowsApiError;

namespace {

constexpr float kUnwritten = -12345.5f;

std::string Bytes(std::initializer_list<unsigned char> bytes) {
    return std::string(bytes.begin(), bytes.end());
}

std::string Int24BigEndian(int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    return Bytes({static_cast<unsigned char>(u >> 16), static_cast<unsigned char>(u >> 8),
                  static_cast<unsigned char>(u)});
}

// `count` floats with a guard on each side, all set to kUnwritten, so that a
// test sees which slots a conversion wrote and that it wrote nothing outside.
class GuardedOutput {
public:
    explicit GuardedOutput(std::size_t count) : floats_(count + 2, kUnwritten) {}
    float* Data() { return floats_.data() + 1; }
    float operator[](std::size_t i) const { return floats_[i + 1]; }
    bool GuardsIntact() const {
        return floats_.front() == kUnwritten && floats_.back() == kUnwritten;
    }
    bool NothingWritten() const {
        for (float f : floats_) {
            if (f != kUnwritten) {
                return false;
            }
        }
        return true;
    }

private:
    std::vector<float> floats_;
};

PayloadLayout LayoutOf(std::initializer_list<uint16_t> channelIds) {
    PayloadLayout layout;
    for (uint16_t id : channelIds) {
        layout.push_back({id, 0});
    }
    return layout;
}

struct LegacyConversion {
    void Convert(const std::string& payload, float* out, uint16_t count) {
        handler.ConvertPayload(payload, out, count, &amplifier, &channels, &filters, &layout);
    }

    QeltLegacyProtocolHandler handler;
    QELTBLE_AMPLIFIER_CONFIGURATION amplifier{500, 1, 0.0f, 3, 1, 1, 0};
    ChannelMap channels{{1, {1, 1, 1, 0.5f}}};
    FilterMap filters;
    PayloadLayout layout = LayoutOf({1});
};

struct NusConversion {
    void Convert(const std::string& payload, float* out, uint16_t count) {
        handler.ConvertPayload(payload, out, count, &amplifier, &layout);
    }

    QeltNusProtocolHandler handler;
    QELTBLE_AMPLIFIER_CONFIGURATION amplifier{500, 1, 7.5f, 3, 1, 1, 0};
    PayloadLayout layout = LayoutOf({1});
};

}  // namespace

TEST(LegacyConversion, DecodesBigEndian24BitCountsTimesTheScale) {
    struct Case {
        std::string bytes;
        float expected;
    };
    const std::vector<Case> cases = {
        {Bytes({0x00, 0x00, 0x02}), 1.0f},        {Bytes({0xFF, 0xFF, 0xFF}), -0.5f},
        {Bytes({0x80, 0x00, 0x00}), -4194304.0f}, {Bytes({0x7F, 0xFF, 0xFF}), 4194303.5f},
        {Bytes({0x00, 0x00, 0x00}), 0.0f},        {Bytes({0x01, 0x02, 0x03}), 33025.5f},
    };
    for (const Case& c : cases) {
        LegacyConversion conversion;
        GuardedOutput out(1);
        conversion.Convert(c.bytes, out.Data(), 1);
        EXPECT_EQ(out[0], c.expected);
        EXPECT_TRUE(out.GuardsIntact());
    }
}

TEST(LegacyConversion, EachSlotTakesTheScaleOfItsOwnEntrysChannel) {
    // Layouts in frame order (wrapping round), backwards, repeating and
    // skipping channels, with ids on both sides of 64, must all find the
    // right record for every slot.
    const std::vector<PayloadLayout> layouts = {
        LayoutOf({1, 2, 5, 9, 1, 2, 5, 9}),
        LayoutOf({9, 5, 2, 1}),
        LayoutOf({1, 1, 5, 5, 9}),
        LayoutOf({2, 9, 2, 9, 2}),
        LayoutOf({5}),
        LayoutOf({9, 1, 2, 9, 1}),
        LayoutOf({0, 1, 63, 64, 300, 0, 1, 63, 64, 300}),
        LayoutOf({300, 64, 300, 64, 63, 0}),
    };
    for (const PayloadLayout& layout : layouts) {
        LegacyConversion conversion;
        conversion.channels = {{0, {0, 1, 0, 3.0f}},    {1, {1, 1, 1, 1.0f}},
                               {2, {2, 1, 2, 0.25f}},   {5, {5, 5, 5, -2.0f}},
                               {9, {9, 1, 9, 1e-3f}},   {63, {63, 1, 63, 0.125f}},
                               {64, {64, 1, 64, 4.0f}}, {300, {300, 1, 44, -0.5f}}};
        conversion.layout = layout;
        const auto count = static_cast<uint16_t>(layout.size() + 1);  // one spare slot
        conversion.amplifier.payloadSize = static_cast<uint16_t>(3 * count);

        std::string payload;
        std::vector<int32_t> raw;
        for (uint16_t i = 0; i < count; ++i) {
            raw.push_back(1000 * i - 3001);
            payload += Int24BigEndian(raw.back());
        }
        GuardedOutput out(count);
        conversion.Convert(payload, out.Data(), count);

        for (std::size_t i = 0; i < layout.size(); ++i) {
            const float scale = conversion.channels.at(layout[i].channelId).scale;
            EXPECT_EQ(out[i], static_cast<float>(raw[i]) * scale) << "slot " << i;
        }
        EXPECT_EQ(out[layout.size()], kUnwritten);  // bytes beyond the layout are ignored
        EXPECT_TRUE(out.GuardsIntact());
    }
}

TEST(LegacyConversion, RefusesMismatchesInOrderBeforeWritingAnything) {
    struct Case {
        std::size_t payloadLength;
        uint16_t payloadSize, count;
        std::size_t entries;
        const char* message;
        int32_t code;
    };
    const std::vector<Case> cases = {
        {5, 6, 2, 2, "Invalid payload size.", -2},
        {7, 6, 2, 2, "Invalid payload size.", -2},
        {5, 6, 9, 5, "Invalid payload size.", -2},  // size before count and layout
        {6, 6, 1, 1, "Invalid buffer size.", 3},
        {6, 6, 3, 3, "Invalid buffer size.", 3},  // count before layout
        {8, 8, 3, 2, "Invalid buffer size.", 3},  // 8 bytes hold two slots
        {6, 6, 2, 3, "Payload configuration larger than buffer.", -2},
        {0, 0, 0, 1, "Payload configuration larger than buffer.", -2},
    };
    for (const Case& c : cases) {
        LegacyConversion conversion;
        conversion.amplifier.payloadSize = c.payloadSize;
        conversion.layout = PayloadLayout(c.entries, {1, 0});
        GuardedOutput out(c.count);
        EXPECT_TRUE(ThrowsApiError(
            [&] { conversion.Convert(std::string(c.payloadLength, '\x01'), out.Data(), c.count); },
            c.message, c.code))
            << c.payloadLength << "/" << c.payloadSize << "/" << c.count << "/" << c.entries;
        EXPECT_TRUE(out.NothingWritten());
    }
}

TEST(LegacyConversion, UnknownChannelStopsTheConversionAtItsSlot) {
    LegacyConversion conversion;
    conversion.amplifier.payloadSize = 6;
    conversion.layout = LayoutOf({1, 5});
    GuardedOutput out(2);
    EXPECT_TRUE(ThrowsApiError(
        [&] {
            conversion.Convert(Bytes({0, 0, 2, 0, 0, 4}), out.Data(), 2);
        },
        "Payload references unknown channel id.", -2));
    EXPECT_EQ(out[0], 1.0f);
    EXPECT_EQ(out[1], kUnwritten);

    conversion.channels.clear();
    GuardedOutput untouched(2);
    EXPECT_TRUE(ThrowsApiError(
        [&] {
            conversion.Convert(Bytes({0, 0, 2, 0, 0, 4}), untouched.Data(), 2);
        },
        "Payload references unknown channel id.", -2));
    EXPECT_TRUE(untouched.NothingWritten());
}

TEST(LegacyConversion, EmptyLayoutWritesNothing) {
    LegacyConversion conversion;
    conversion.amplifier.payloadSize = 6;
    conversion.layout.clear();
    GuardedOutput out(2);
    conversion.Convert(std::string(6, '\x7F'), out.Data(), 2);
    EXPECT_TRUE(out.NothingWritten());

    // An empty notification with nothing to convert needs no buffer at all.
    conversion.amplifier.payloadSize = 0;
    EXPECT_NO_THROW(conversion.Convert("", nullptr, 0));
}

TEST(NusConversion, DecodesRawCountsOfEitherWidthAndByteOrder) {
    struct Case {
        unsigned char width;
        bool littleEndian;
        std::string bytes;
        float expected;
    };
    const std::vector<Case> cases = {
        {3, false, Bytes({0x80, 0x00, 0x01}), -8388607.0f},
        {3, true, Bytes({0x01, 0x00, 0x80}), -8388607.0f},
        {3, false, Bytes({0x7F, 0xFF, 0xFF}), 8388607.0f},
        {3, true, Bytes({0xFF, 0xFF, 0xFF}), -1.0f},
        {3, false, Bytes({0x00, 0x01, 0x00}), 256.0f},
        {3, true, Bytes({0x00, 0x01, 0x00}), 256.0f},
        {4, false, Bytes({0xFF, 0xFF, 0xFF, 0xFE}), -2.0f},
        {4, true, Bytes({0xFE, 0xFF, 0xFF, 0xFF}), -2.0f},
        {4, false, Bytes({0x80, 0x00, 0x00, 0x00}), -2147483648.0f},
        {4, false, Bytes({0x7F, 0xFF, 0xFF, 0xFF}), 2147483648.0f},  // rounded to float
        {4, true, Bytes({0x01, 0x02, 0x00, 0x00}), 513.0f},
        {4, false, Bytes({0x00, 0x80, 0x00, 0x00}), 8388608.0f},  // no 24-bit sign here
    };
    for (const Case& c : cases) {
        NusConversion conversion;
        conversion.handler.SetSampleFormat(c.width, c.littleEndian);
        conversion.amplifier.payloadSize = c.width;
        GuardedOutput out(1);
        conversion.Convert(c.bytes, out.Data(), 1);
        EXPECT_EQ(out[0], c.expected) << int{c.width} << (c.littleEndian ? " LE" : " BE");
        EXPECT_TRUE(out.GuardsIntact());
    }
}

TEST(NusConversion, ConvertsEverySlotOfTheLayoutAndNoMore) {
    NusConversion conversion;
    conversion.amplifier.payloadSize = 12;
    conversion.layout = LayoutOf({1, 2, 1, 2});
    const std::string payload =
        Int24BigEndian(1) + Int24BigEndian(-1) + Int24BigEndian(256) + Int24BigEndian(-8388608);
    GuardedOutput out(4);
    conversion.Convert(payload, out.Data(), 4);
    EXPECT_EQ(out[0], 1.0f);
    EXPECT_EQ(out[1], -1.0f);
    EXPECT_EQ(out[2], 256.0f);
    EXPECT_EQ(out[3], -8388608.0f);
    EXPECT_TRUE(out.GuardsIntact());

    // A shorter layout converts only its own slots.
    conversion.layout = LayoutOf({1, 2});
    GuardedOutput partial(4);
    conversion.Convert(payload, partial.Data(), 4);
    EXPECT_EQ(partial[1], -1.0f);
    EXPECT_EQ(partial[2], kUnwritten);

    conversion.layout.clear();
    GuardedOutput none(4);
    conversion.Convert(payload, none.Data(), 4);
    EXPECT_TRUE(none.NothingWritten());
}

TEST(NusConversion, RefusesMismatchesInOrderBeforeWritingAnything) {
    struct Case {
        unsigned char width;
        std::size_t payloadLength;
        uint16_t payloadSize, count;
        std::size_t entries;
        const char* message;
        int32_t code;
    };
    const std::vector<Case> cases = {
        {3, 11, 12, 4, 4, "Invalid payload size.", -2},
        {3, 13, 12, 9, 9, "Invalid payload size.", -2},  // size before count
        {3, 12, 12, 3, 3, "Invalid buffer size.", 3},
        {4, 12, 12, 4, 3, "Invalid buffer size.", 3},  // count follows the width
        {3, 12, 12, 5, 5, "Invalid buffer size.", 3},  // count before layout
        {3, 12, 12, 4, 5, "Payload configuration larger than buffer.", -2},
        {4, 0, 0, 0, 1, "Payload configuration larger than buffer.", -2},
    };
    for (const Case& c : cases) {
        NusConversion conversion;
        conversion.handler.SetSampleFormat(c.width, false);
        conversion.amplifier.payloadSize = c.payloadSize;
        conversion.layout = PayloadLayout(c.entries, {1, 0});
        GuardedOutput out(c.count);
        EXPECT_TRUE(ThrowsApiError(
            [&] { conversion.Convert(std::string(c.payloadLength, '\x01'), out.Data(), c.count); },
            c.message, c.code))
            << int{c.width} << ": " << c.payloadLength << "/" << c.payloadSize << "/" << c.count
            << "/" << c.entries;
        EXPECT_TRUE(out.NothingWritten());
    }
}

TEST(NusConversion, PayloadSizeNotAMultipleOfTheWidthReadsOnlyWholeSlots) {
    NusConversion conversion;
    conversion.amplifier.payloadSize = 14;  // four 3-byte slots and two spare bytes
    conversion.layout = PayloadLayout(4, {1, 0});
    GuardedOutput out(4);
    conversion.Convert(Int24BigEndian(7) + std::string(9, '\0') + "\xFF\xFF", out.Data(), 4);
    EXPECT_EQ(out[0], 7.0f);
    EXPECT_EQ(out[3], 0.0f);
    EXPECT_TRUE(out.GuardsIntact());
}

TEST(Conversion, MissingArgumentsAreInvalidArguments) {
    QeltLegacyProtocolHandler legacy;
    QeltNusProtocolHandler nus;
    const QELTBLE_AMPLIFIER_CONFIGURATION amplifier{1, 1, 0.0f, 3, 1, 1, 0};
    const ChannelMap channels{{1, {1, 1, 1, 1.0f}}};
    const PayloadLayout layout = LayoutOf({1});
    const std::string payload(3, '\0');
    float out = 0;
    const auto missing = [](auto operation) {
        return ThrowsApiError(operation, "Missing conversion argument.", 4);
    };
    EXPECT_TRUE(missing(
        [&] { legacy.ConvertPayload(payload, &out, 1, nullptr, &channels, nullptr, &layout); }));
    EXPECT_TRUE(missing(
        [&] { legacy.ConvertPayload(payload, &out, 1, &amplifier, nullptr, nullptr, &layout); }));
    EXPECT_TRUE(missing(
        [&] { legacy.ConvertPayload(payload, &out, 1, &amplifier, &channels, nullptr, nullptr); }));
    EXPECT_TRUE(missing([&] {
        legacy.ConvertPayload(payload, nullptr, 1, &amplifier, &channels, nullptr, &layout);
    }));
    EXPECT_TRUE(missing([&] { nus.ConvertPayload(payload, &out, 1, nullptr, &layout); }));
    EXPECT_TRUE(missing([&] { nus.ConvertPayload(payload, &out, 1, &amplifier, nullptr); }));
    EXPECT_TRUE(missing([&] { nus.ConvertPayload(payload, nullptr, 1, &amplifier, &layout); }));
    // The filter map is never consulted, so it may be absent.
    legacy.ConvertPayload(payload, &out, 1, &amplifier, &channels, nullptr, &layout);
    EXPECT_EQ(out, 0.0f);
}
