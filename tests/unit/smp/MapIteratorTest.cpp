#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "smp/MapIterator.h"
#include "smp/SimpleCBOR.h"

using Qelt::BLE::MapIterator;
namespace cbor = Qelt::BLE::SimpleCBOR;
using Bytes = std::vector<uint8_t>;

namespace {

// Walks a map, skipping every value, and records each key with the position
// the iterator stands on right after it.
std::vector<std::pair<std::string, uint64_t>> Keys(MapIterator& map) {
    std::vector<std::pair<std::string, uint64_t>> keys;
    std::string key;
    while (map.nextKey(key)) {
        keys.emplace_back(key, map.pos);
        cbor::skipValue(map.data, map.pos, map.size);
    }
    return keys;
}

}  // namespace

TEST(MapIterator, YieldsKeysOfDefiniteAndIndefiniteMaps) {
    using Keyed = std::vector<std::pair<std::string, uint64_t>>;
    struct Case {
        const char* name;
        Bytes data;
        Keyed keys;
        uint64_t end;
    };
    const Case cases[] = {
        {"empty map", {0xA0, 0x01}, {}, 1},
        {"two entries",
         {0xA2, 0x61, 'a', 0x01, 0x62, 'r', 'c', 0x08, 0x09},
         {{"a", 3}, {"rc", 7}},
         8},
        {"indefinite consumes its break", {0xBF, 0x61, 'a', 0x01, 0xFF, 0x09}, {{"a", 3}}, 5},
        {"indefinite without break", {0xBF, 0x61, 'a', 0x01}, {{"a", 3}}, 4},
        {"count beyond the data", {0xA3, 0x61, 'a', 0x01}, {{"a", 3}}, 4},
        {"header cut off", {0xB8}, {}, 1},
        {"eight-byte count", {0xBB, 0, 0, 0, 0, 0, 0, 0, 1}, {}, 1},
        // A key that is not text comes out empty without moving; the skip
        // that follows consumes the key item, and its value is taken as the
        // next key (also empty here).
        {"integer key", {0xA2, 0x01, 0x02, 0x61, 'b', 0x03}, {{"", 1}, {"", 2}}, 3},
        {"key runs past the end", {0xA1, 0x65, 'a', 'b'}, {{"", 2}}, 4},
        {"indefinite key", {0xA1, 0x7F, 0x61, 'a', 0xFF, 0x01}, {{"", 2}}, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MapIterator map(c.data.data(), 0, c.data.size());
        EXPECT_EQ(Keys(map), c.keys);
        EXPECT_EQ(map.pos, c.end);
        EXPECT_EQ(map.index, c.keys.size());
    }
}

TEST(MapIterator, YieldsNothingWithoutAMap) {
    const Bytes data = {0x83, 0x01, 0x02, 0x03};
    for (uint64_t start : {0, 4, 9}) {
        MapIterator map(data.data(), start, data.size());
        std::string key = "stale";
        EXPECT_FALSE(map.nextKey(key));
        EXPECT_TRUE(key.empty());
        EXPECT_EQ(map.pos, start);
        EXPECT_EQ(map.count, 0u);
        EXPECT_FALSE(map.indefinite);
    }
    MapIterator none(nullptr, 0, 5);
    std::string key;
    EXPECT_FALSE(none.nextKey(key));
}

TEST(MapIterator, ReadsAResponseBuiltByTheWriters) {
    // An SMP-like frame: 8 header bytes, then the map the readers walk.
    Bytes frame(8, 0xEE);
    const Bytes hash(32, 0x3C);
    cbor::encodeMapHeader(frame, 4);
    cbor::encodeString(frame, "images");
    frame.insert(frame.end(), {0x82, 0xA1, 0x61, 'x', 0x01, 0xBF, 0xFF});
    cbor::encodeString(frame, "off");
    cbor::encodeUnsigned(frame, 256);
    cbor::encodeString(frame, "hash");
    cbor::encodeBytes(frame, hash);
    cbor::encodeString(frame, "version");
    cbor::encodeString(frame, "1.2.3");

    MapIterator map(frame.data(), 8, frame.size());
    EXPECT_EQ(map.count, 4u);
    std::string key;
    uint64_t off = 0;
    std::string version;
    Bytes readHash;
    std::vector<std::string> skipped;
    while (map.nextKey(key)) {
        if (key == "off") {
            off = cbor::readUnsigned(map.data, map.pos, map.size);
        } else if (key == "hash") {
            const auto bytes = cbor::readBytes(map.data, map.pos, map.size);
            ASSERT_TRUE(bytes.has_value());
            readHash.assign(bytes->begin(), bytes->end());
        } else if (key == "version") {
            version = cbor::readText(map.data, map.pos, map.size).value_or("");
        } else {
            skipped.push_back(key);
            cbor::skipValue(map.data, map.pos, map.size);
        }
    }
    EXPECT_EQ(off, 256u);
    EXPECT_EQ(readHash, hash);
    EXPECT_EQ(version, "1.2.3");
    EXPECT_EQ(skipped, std::vector<std::string>{"images"});
    EXPECT_EQ(map.pos, frame.size());
}
