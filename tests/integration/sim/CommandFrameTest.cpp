// The simulator's UART frame handling on its own: requests gathered from
// arbitrary writes, and whatever bytes a client writes must be handled
// safely (this runs under the sanitizers with the other simulator tests).
#include <gtest/gtest.h>

#include <random>

#include "../../../sim/CommandFrame.h"

namespace QeltSim {
namespace {

Bytes Request(uint8_t command, const Bytes& payload) {
    Bytes frame{0xF0, static_cast<uint8_t>(payload.size() >> 8),
                static_cast<uint8_t>(payload.size() & 0xFF), command};
    frame.insert(frame.end(), payload.begin(), payload.end());
    const uint16_t crc = Crc16CcittFalse(frame.data() + 1, frame.size() - 1);
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    return frame;
}

TEST(SimCommandFrame, CrcAndResponseLayout) {
    const Bytes check{'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(Crc16CcittFalse(check.data(), check.size()), 0x29B1);
    EXPECT_EQ(Crc16CcittFalse(nullptr, 0), 0xFFFF);
    const Bytes response = BuildResponseFrame(0x42, 0, {0xAA});
    ASSERT_EQ(response.size(), 8u);
    EXPECT_EQ(Bytes(response.begin(), response.begin() + 6),
              (Bytes{0xF0, 0x00, 0x01, 0x42, 0x00, 0xAA}));
    const uint16_t crc = Crc16CcittFalse(response.data() + 1, 5);
    EXPECT_EQ(response[6], crc >> 8);
    EXPECT_EQ(response[7], crc & 0xFF);
}

TEST(SimCommandFrame, RequestsAreGatheredFromAnyWrites) {
    struct Case {
        const char* name;
        std::vector<Bytes> writes;
        size_t requests;
    };
    const Bytes one = Request(0x10, {1, 2, 3});
    const Bytes empty = Request(0x11, {});
    Bytes corrupt = one;
    corrupt.back() ^= 0xFF;
    Bytes both = one;
    both.insert(both.end(), empty.begin(), empty.end());
    const std::vector<Case> cases = {
        {"whole", {one}, 1},
        {"byte by byte",
         [&] {
             std::vector<Bytes> bytes;
             for (uint8_t b : one)
                 bytes.push_back({b});
             return bytes;
         }(),
         1},
        {"two in one write", {both}, 2},
        {"garbage first", {{0x00, 0x13, 0xF0}, one}, 1},
        {"bad checksum then good", {corrupt, one}, 1},
        {"length beyond the limit", {{0xF0, 0x02, 0x01, 0x10}, empty}, 1},
    };
    for (const auto& c : cases) {
        RequestAssembler assembler;
        size_t requests = 0;
        for (const auto& write : c.writes) {
            requests += assembler.Add(write).size();
        }
        EXPECT_EQ(requests, c.requests) << c.name;
    }
    RequestAssembler assembler;
    const auto parsed = assembler.Add(one);
    ASSERT_EQ(parsed.size(), 1u);
    EXPECT_EQ(parsed[0].command, 0x10);
    EXPECT_EQ(parsed[0].payload, (Bytes{1, 2, 3}));
}

TEST(SimCommandFrame, RandomWritesAreHandledSafely) {
    std::mt19937 random(7);
    RequestAssembler assembler;
    for (int i = 0; i < 20000; ++i) {
        Bytes write(random() % 40);
        for (auto& b : write) {
            b = static_cast<uint8_t>(random() % 4 == 0 ? 0xF0 : random());
        }
        assembler.Add(write);
        // A partial frame never holds more than one maximal frame.
        EXPECT_LE(assembler.Buffered(), 512u + 6u + 40u);
    }
}

}  // namespace
}  // namespace QeltSim
