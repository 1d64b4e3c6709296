#include <gtest/gtest.h>
#include <pthread.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "smp/SimpleCBOR.h"

namespace cbor = Qelt::BLE::SimpleCBOR;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes Concat(Bytes head, const Bytes& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

Bytes Repeat(uint8_t byte, size_t count) {
    return Bytes(count, byte);
}

template <typename Encoder>
Bytes Encode(Encoder encoder) {
    Bytes out = {0x99};  // writers append; what was there stays
    encoder(out);
    EXPECT_EQ(out.front(), 0x99);
    return Bytes(out.begin() + 1, out.end());
}

}  // namespace

TEST(SimpleCBORWriters, UseTheShortestHeaderForEachLength) {
    struct Case {
        size_t length;
        Bytes header;
    };
    const Case cases[] = {
        {0, {0x60}},
        {1, {0x61}},
        {23, {0x77}},
        {24, {0x78, 0x18}},
        {255, {0x78, 0xFF}},
        {256, {0x79, 0x01, 0x00}},
        {300, {0x79, 0x01, 0x2C}},
        {65535, {0x79, 0xFF, 0xFF}},
        {65536, {0x7A, 0x00, 0x01, 0x00, 0x00}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        const std::string text(c.length, 'd');
        EXPECT_EQ(Encode([&](Bytes& out) { cbor::encodeString(out, text); }),
                  Concat(c.header, Bytes(text.begin(), text.end())));

        // Byte strings share the rule with their own major type.
        Bytes byteHeader = c.header;
        byteHeader[0] = static_cast<uint8_t>(byteHeader[0] - 0x20);
        const Bytes bytes(c.length, 0xB5);
        EXPECT_EQ(Encode([&](Bytes& out) { cbor::encodeBytes(out, bytes); }),
                  Concat(byteHeader, bytes));
    }
}

TEST(SimpleCBORWriters, WriteIntegersMapHeadersAndBooleans) {
    struct Case {
        uint64_t value;
        Bytes encoded;
    };
    const Case cases[] = {
        {0, {0x00}},
        {23, {0x17}},
        {24, {0x18, 0x18}},
        {100, {0x18, 0x64}},
        {255, {0x18, 0xFF}},
        {256, {0x19, 0x01, 0x00}},
        {65535, {0x19, 0xFF, 0xFF}},
        {65536, {0x1A, 0x00, 0x01, 0x00, 0x00}},
        {0xFFFFFFFF, {0x1A, 0xFF, 0xFF, 0xFF, 0xFF}},
        {0x100000000, {0x1B, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(Encode([&](Bytes& out) { cbor::encodeUnsigned(out, c.value); }), c.encoded);
    }

    for (uint64_t entries : {0, 1, 2, 4, 23}) {
        EXPECT_EQ(Encode([&](Bytes& out) { cbor::encodeMapHeader(out, entries); }),
                  Bytes{static_cast<uint8_t>(0xA0 + entries)});
    }
    EXPECT_EQ(Encode([](Bytes& out) { cbor::encodeMapHeader(out, 24); }), (Bytes{0xB8, 0x18}));
    EXPECT_EQ(Encode([](Bytes& out) { cbor::encodeBool(out, false); }), Bytes{0xF4});
    EXPECT_EQ(Encode([](Bytes& out) { cbor::encodeBool(out, true); }), Bytes{0xF5});
}

TEST(SimpleCBORReaders, ReadUnsignedDecodesTheArgumentOfAnyItem) {
    struct Case {
        const char* name;
        Bytes data;
        uint64_t value;
        uint64_t consumed;
    };
    const Case cases[] = {
        {"immediate", {0x17}, 23, 1},
        {"one byte", {0x18, 0xFF}, 255, 2},
        {"two bytes", {0x19, 0x01, 0x00}, 256, 3},
        {"four bytes", {0x1A, 0x00, 0x01, 0x00, 0x00, 0x07}, 65536, 5},
        {"two bytes cut off", {0x19, 0x01}, 0, 1},
        {"one byte cut off", {0x18}, 0, 1},
        {"four bytes cut off", {0x1A, 0x00, 0x01, 0x00}, 0, 1},
        {"eight-byte argument", {0x1B, 0, 0, 0, 0, 0, 0, 0, 1}, 0, 1},
        {"reserved information", {0x1C, 0x05}, 0, 1},
        {"indefinite gives all ones", {0x9F}, std::numeric_limits<uint64_t>::max(), 1},
        {"other major type", {0x78, 0x20}, 32, 2},
        {"simple value", {0xF5}, 21, 1},
        {"empty", {}, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        uint64_t pos = 0;
        EXPECT_EQ(cbor::readUnsigned(c.data.data(), pos, c.data.size()), c.value);
        EXPECT_EQ(pos, c.consumed);
    }

    // At or beyond the end nothing is read.
    const Bytes one = {0x05};
    for (uint64_t start : {1, 2, 1000}) {
        uint64_t pos = start;
        EXPECT_EQ(cbor::readUnsigned(one.data(), pos, one.size()), 0u);
        EXPECT_EQ(pos, start);
    }
}

TEST(SimpleCBORReaders, ReadTextAndBytesOnlyReturnWholeStringsOfTheirType) {
    struct Case {
        const char* name;
        Bytes data;
        bool present;
        std::string value;
        uint64_t consumed;
    };
    const Case cases[] = {
        {"short", {0x62, 'h', 'i', 0x00}, true, "hi", 3},
        {"empty", {0x60}, true, "", 1},
        {"one-byte length", Concat({0x78, 0x18}, Bytes(24, 'x')), true, std::string(24, 'x'), 26},
        {"exactly to the end", {0x63, 'o', 'f', 'f'}, true, "off", 4},
        {"one byte short", {0x63, 'o', 'f'}, false, "", 0},
        {"huge length", {0x7A, 0xFF, 0xFF, 0xFF, 0xFF, 'a'}, false, "", 0},
        {"indefinite", {0x7F, 0x61, 'a', 0xFF}, false, "", 0},
        {"integer", {0x01}, false, "", 0},
        {"byte string", {0x42, 'h', 'i'}, false, "", 0},
        {"empty buffer", {}, false, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        uint64_t pos = 0;
        const auto text = cbor::readText(c.data.data(), pos, c.data.size());
        ASSERT_EQ(text.has_value(), c.present);
        if (c.present) {
            EXPECT_EQ(*text, c.value);
        }
        EXPECT_EQ(pos, c.consumed);

        // The same bytes as a byte string: the type check flips for major
        // types 2 and 3, everything else stays.
        Bytes asBytes = c.data;
        if (!asBytes.empty() && (asBytes[0] >> 5) == 3) {
            asBytes[0] = static_cast<uint8_t>(asBytes[0] - 0x20);
        } else if (!asBytes.empty() && (asBytes[0] >> 5) == 2) {
            asBytes[0] = static_cast<uint8_t>(asBytes[0] + 0x20);
        }
        pos = 0;
        const auto bytes = cbor::readBytes(asBytes.data(), pos, asBytes.size());
        ASSERT_EQ(bytes.has_value(), c.present);
        if (c.present) {
            EXPECT_EQ(std::string(bytes->begin(), bytes->end()), c.value);
            EXPECT_EQ(bytes->data(), asBytes.data() + (c.consumed - c.value.size()));
        }
        EXPECT_EQ(pos, c.consumed);
    }
}

TEST(SimpleCBORSkip, MovesPastOneWholeItem) {
    struct Case {
        const char* name;
        Bytes data;
        uint64_t end;
    };
    const Case cases[] = {
        {"integer", {0x19, 0x01, 0x00, 0x05}, 3},
        {"negative integer", {0x38, 0x10, 0x05}, 2},
        {"integer cut off", {0x19, 0x01}, 1},
        {"eight-byte integer leaves its bytes", {0x1B, 1, 2, 3, 4, 5, 6, 7, 8}, 1},
        {"half float", {0xF9, 0x3C, 0x00, 0x05}, 3},
        {"double leaves its bytes", {0xFB, 1, 2, 3, 4, 5, 6, 7, 8}, 1},
        {"stray break", {0xFF, 0x01}, 1},
        {"text", {0x63, 'a', 'b', 'c', 0x01}, 4},
        {"byte string cut off goes beyond the end", {0x58, 0x10, 1, 2, 3, 4}, 18},
        {"huge text", {0x7A, 0xFF, 0xFF, 0xFF, 0xFF}, 5ull + 0xFFFFFFFF},
        {"indefinite string", {0x5F, 0x41, 0x00, 0xFF}, 1},
        {"array", {0x83, 0x01, 0x02, 0x03, 0x04}, 4},
        {"indefinite array", {0x9F, 0x01, 0xFF, 0x02}, 3},
        {"map", {0xA1, 0x61, 0x72, 0x61, 0x78, 0x01}, 5},
        {"nested containers", {0x82, 0x9F, 0xA1, 0x01, 0x02, 0xFF, 0x83, 1, 2, 3, 0x04}, 10},
        {"break in a value position is a value", {0xBF, 0x61, 'a', 0xFF, 0xFF, 0x01}, 5},
        {"indefinite in indefinite", {0x9F, 0x9F, 0x01, 0xFF, 0x02, 0xFF, 0x03}, 6},
        {"count cut off", {0x98}, 1},
        {"count beyond the data", {0x83, 0x01}, 2},
        {"huge count", {0x9A, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x02}, 7},
        {"huge map count", {0xBA, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x02}, 7},
        {"indefinite without break", {0xBF, 0x61, 'a', 0x01}, 4},
        {"string in an array cut off", {0x82, 0x45, 0x01, 0x02}, 7},
        {"tag consumes only its initial byte", {0xD8, 0x20, 0x01}, 1},
        {"tag inside an array counts as an item", {0x82, 0xC1, 0x01, 0x02}, 3},
        {"empty", {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        uint64_t pos = 0;
        cbor::skipValue(c.data.data(), pos, c.data.size());
        EXPECT_EQ(pos, c.end);
    }

    // A position already at or beyond the end stays where it is.
    const Bytes data = {0x01};
    for (uint64_t start : {1, 18}) {
        uint64_t pos = start;
        cbor::skipValue(data.data(), pos, data.size());
        EXPECT_EQ(pos, start);
    }
}

TEST(SimpleCBORSkip, FollowsDeepDefiniteNestingExactly) {
    // 65543 nested one-element arrays around an integer, then one more item.
    const size_t depth = 65543;
    const Bytes data = Concat(Repeat(0x81, depth), {0x01, 0x02});
    uint64_t pos = 0;
    cbor::skipValue(data.data(), pos, data.size());
    EXPECT_EQ(pos, depth + 1);
}

TEST(SimpleCBORSkip, FollowsIndefiniteNestingUpToItsLimit) {
    const size_t limit = cbor::kMaxIndefiniteDepth;
    const Bytes withinLimit = Concat(Repeat(0x9F, limit), Concat({0x01}, Repeat(0xFF, limit + 1)));
    uint64_t pos = 0;
    cbor::skipValue(withinLimit.data(), pos, withinLimit.size());
    EXPECT_EQ(pos, 2 * limit + 1);

    // Deeper nesting counts as malformed: the skip ends at the end of the data.
    const Bytes beyondLimit =
        Concat(Repeat(0x9F, limit + 1), Concat({0x01}, Repeat(0xFF, limit + 3)));
    pos = 0;
    cbor::skipValue(beyondLimit.data(), pos, beyondLimit.size());
    EXPECT_EQ(pos, beyondLimit.size());
}

TEST(SimpleCBORSkip, HostileNestingFitsInASmallThreadStack) {
    // The largest SMP response, filled with nested container headers of every
    // kind; skipping it on a thread with a small stack must not overflow it.
    struct Input {
        const char* name;
        Bytes data;
    };
    const size_t size = 65543;
    Bytes mixed;
    for (size_t i = 0; mixed.size() < size; ++i) {
        mixed.push_back(i % 3 == 0 ? 0x9F : (i % 3 == 1 ? 0xBF : 0xA1));
    }
    static const Input inputs[] = {
        {"definite arrays", Repeat(0x81, size)},
        {"indefinite arrays", Repeat(0x9F, size)},
        {"indefinite maps", Repeat(0xBF, size)},
        {"mixed", mixed},
    };
    for (const Input& input : inputs) {
        SCOPED_TRACE(input.name);
        struct Job {
            const Bytes* data;
            uint64_t pos;
        } job{&input.data, 0};
        pthread_attr_t attributes;
        ASSERT_EQ(pthread_attr_init(&attributes), 0);
        ASSERT_EQ(pthread_attr_setstacksize(&attributes, 256 * 1024), 0);
        pthread_t thread;
        ASSERT_EQ(pthread_create(
                      &thread, &attributes,
                      [](void* arg) -> void* {
                          auto* j = static_cast<Job*>(arg);
                          cbor::skipValue(j->data->data(), j->pos, j->data->size());
                          return nullptr;
                      },
                      &job),
                  0);
        pthread_join(thread, nullptr);
        pthread_attr_destroy(&attributes);
        EXPECT_EQ(job.pos, size);
    }
}

TEST(SimpleCBORReaders, TreatAMissingBufferAsEmpty) {
    uint64_t pos = 0;
    cbor::skipValue(nullptr, pos, 10);
    EXPECT_EQ(cbor::readUnsigned(nullptr, pos, 10), 0u);
    EXPECT_FALSE(cbor::readText(nullptr, pos, 10).has_value());
    EXPECT_FALSE(cbor::readBytes(nullptr, pos, 10).has_value());
    EXPECT_EQ(pos, 0u);
}
