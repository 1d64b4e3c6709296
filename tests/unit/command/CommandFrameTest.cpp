#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/CommandFrame.h"

using Bytes = std::vector<uint8_t>;

namespace {

// A response frame as an amplifier sends it, with the length field and the
// checksum computed independently of the codec's parser.
Bytes MakeResponse(uint8_t command, uint8_t status, const Bytes& payload,
                   size_t lengthField = SIZE_MAX) {
    const size_t n = lengthField == SIZE_MAX ? payload.size() : lengthField;
    Bytes frame(5 + payload.size() + 2);
    frame[0] = 0xF0;
    frame[1] = static_cast<uint8_t>(n >> 8);
    frame[2] = static_cast<uint8_t>(n);
    frame[3] = command;
    frame[4] = status;
    std::copy(payload.begin(), payload.end(), frame.begin() + 5);
    const uint16_t crc = qelt::Crc16(frame.data() + 1, 4 + payload.size());
    frame[frame.size() - 2] = static_cast<uint8_t>(crc >> 8);
    frame[frame.size() - 1] = static_cast<uint8_t>(crc);
    return frame;
}

// A record that shows whether a failed parse wrote to it.
qelt::ParsedResponse Sentinel() {
    static const uint8_t marker = 0;
    return qelt::ParsedResponse{0xEE, 0xDD, &marker, 0xCCCC};
}

void ExpectUntouched(const qelt::ParsedResponse& r) {
    const qelt::ParsedResponse s = Sentinel();
    EXPECT_EQ(r.command, s.command);
    EXPECT_EQ(r.status, s.status);
    EXPECT_EQ(r.payload, s.payload);
    EXPECT_EQ(r.payloadLength, s.payloadLength);
}

}  // namespace

TEST(Crc16, MatchesTheCheckValueAndStartsAtAllOnes) {
    const std::string check = "123456789";
    EXPECT_EQ(qelt::Crc16(reinterpret_cast<const uint8_t*>(check.data()), check.size()), 0x29B1);
    EXPECT_EQ(qelt::Crc16(nullptr, 0), 0xFFFF);
    const uint8_t one = 0x00;
    EXPECT_EQ(qelt::Crc16(&one, 1), 0xE1F0);
}

TEST(BuildRequest, ProducesTheDocumentedFrames) {
    EXPECT_EQ(qelt::BuildRequest(0x01, nullptr, 0), (Bytes{0xF0, 0x00, 0x00, 0x01, 0xDC, 0xBD}));
    const Bytes payload = {0xAB, 0xCD};
    EXPECT_EQ(qelt::BuildRequest(0x10, payload.data(), 2),
              (Bytes{0xF0, 0x00, 0x02, 0x10, 0xAB, 0xCD, 0x76, 0x62}));
}

TEST(BuildRequest, AcceptsUpTo512PayloadBytes) {
    Bytes payload(513);
    for (size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<uint8_t>(i * 7);
    }
    const Bytes frame = qelt::BuildRequest(0x22, payload.data(), 512);
    ASSERT_EQ(frame.size(), 518u);
    EXPECT_EQ(frame[1], 0x02);
    EXPECT_EQ(frame[2], 0x00);
    EXPECT_EQ(frame[3], 0x22);
    EXPECT_TRUE(std::equal(payload.begin(), payload.begin() + 512, frame.begin() + 4));
    const uint16_t crc = qelt::Crc16(frame.data() + 1, 515);
    EXPECT_EQ(frame[516], crc >> 8);
    EXPECT_EQ(frame[517], crc & 0xFF);

    EXPECT_TRUE(qelt::BuildRequest(0x22, payload.data(), 513).empty());
    EXPECT_TRUE(qelt::BuildRequest(0x22, nullptr, 0xFFFF).empty());
}

TEST(BuildRequest, SendsZerosForAMissingPayload) {
    const Bytes zeros(3, 0);
    EXPECT_EQ(qelt::BuildRequest(0x05, nullptr, 3), qelt::BuildRequest(0x05, zeros.data(), 3));
}

TEST(ParseResponse, SplitsTheDocumentedFrames) {
    const Bytes empty = {0xF0, 0x00, 0x00, 0x01, 0x00, 0xB7, 0xF1};
    qelt::ParsedResponse r = Sentinel();
    ASSERT_TRUE(qelt::ParseResponse(empty.data(), empty.size(), r));
    EXPECT_EQ(r.command, 0x01);
    EXPECT_EQ(r.status, 0x00);
    EXPECT_EQ(r.payload, nullptr);
    EXPECT_EQ(r.payloadLength, 0);

    const Bytes one = {0xF0, 0x00, 0x01, 0x10, 0x00, 0x2A, 0xA1, 0xF3};
    ASSERT_TRUE(qelt::ParseResponse(one.data(), one.size(), r));
    EXPECT_EQ(r.command, 0x10);
    EXPECT_EQ(r.status, 0x00);
    EXPECT_EQ(r.payload, one.data() + 5);
    EXPECT_EQ(r.payloadLength, 1);
    EXPECT_EQ(r.payload[0], 0x2A);
}

TEST(ParseResponse, AcceptsTheLargestPayloadAndKeepsTheStatus) {
    const Bytes payload(512, 0x5A);
    const Bytes frame = MakeResponse(0x33, 0x07, payload);
    qelt::ParsedResponse r;
    ASSERT_TRUE(qelt::ParseResponse(frame.data(), frame.size(), r));
    EXPECT_EQ(r.command, 0x33);
    EXPECT_EQ(r.status, 0x07);
    EXPECT_EQ(r.payloadLength, 512);
    EXPECT_EQ(r.payload, frame.data() + 5);
}

TEST(ParseResponse, RejectsMalformedFramesWithoutTouchingTheResult) {
    const Bytes valid = MakeResponse(0x10, 0x00, {0x2A});
    Bytes trailing = valid;
    trailing.push_back(0x00);
    Bytes wrongStart = valid;
    wrongStart[0] = 0xF1;
    Bytes lengthTooShort = valid;
    lengthTooShort[2] = 0x00;  // says 0 but carries one payload byte

    struct Case {
        const char* name;
        Bytes frame;
    };
    const Case cases[] = {
        {"shorter than the smallest frame", Bytes(valid.begin(), valid.begin() + 6)},
        {"one byte cut off", Bytes(valid.begin(), valid.end() - 1)},
        {"trailing byte", trailing},
        {"wrong start byte", wrongStart},
        {"length field disagrees", lengthTooShort},
        // Total size and checksum agree with the length field, which exceeds 512.
        {"length 513", MakeResponse(0x10, 0x00, Bytes(513, 0x11))},
        {"length 0xFFFF with a short buffer", MakeResponse(0x10, 0x00, Bytes(4), 0xFFFF)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        qelt::ParsedResponse r = Sentinel();
        EXPECT_FALSE(qelt::ParseResponse(c.frame.data(), c.frame.size(), r));
        ExpectUntouched(r);
    }

    qelt::ParsedResponse r = Sentinel();
    EXPECT_FALSE(qelt::ParseResponse(nullptr, 7, r));
    ExpectUntouched(r);
}

TEST(ParseResponse, RejectsEverySingleBitFlip) {
    const Bytes valid = MakeResponse(0x42, 0x03, {0x01, 0x80, 0xFF});
    qelt::ParsedResponse r;
    ASSERT_TRUE(qelt::ParseResponse(valid.data(), valid.size(), r));
    for (size_t byte = 0; byte < valid.size(); ++byte) {
        for (int bit = 0; bit < 8; ++bit) {
            Bytes flipped = valid;
            flipped[byte] ^= static_cast<uint8_t>(1u << bit);
            r = Sentinel();
            EXPECT_FALSE(qelt::ParseResponse(flipped.data(), flipped.size(), r))
                << "byte " << byte << " bit " << bit;
            ExpectUntouched(r);
        }
    }
}
