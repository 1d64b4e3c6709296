#include "protocol/CommandFrame.h"

#include <cstring>

namespace qelt {

namespace {

constexpr uint8_t kStartByte = 0xF0;
constexpr uint16_t kCrcPolynomial = 0x1021;
constexpr uint16_t kCrcInitial = 0xFFFF;

// Start byte, length and command precede the payload of a request; the
// response adds its status byte. Both end with the 2-byte checksum.
constexpr size_t kRequestHeader = 4;
constexpr size_t kResponseHeader = 5;
constexpr size_t kChecksumSize = 2;

uint16_t ReadBigEndian16(const uint8_t* bytes) {
    return static_cast<uint16_t>((bytes[0] << 8) | bytes[1]);
}

void WriteBigEndian16(uint8_t* bytes, uint16_t value) {
    bytes[0] = static_cast<uint8_t>(value >> 8);
    bytes[1] = static_cast<uint8_t>(value & 0xFF);
}

}  // namespace

uint16_t Crc16(const uint8_t* data, size_t length) {
    uint16_t crc = kCrcInitial;
    for (size_t i = 0; i < length; ++i) {
        crc ^= static_cast<uint16_t>(data[i] << 8);
        for (int bit = 0; bit < 8; ++bit) {
            const bool carry = (crc & 0x8000) != 0;
            crc = static_cast<uint16_t>(crc << 1);
            if (carry) {
                crc ^= kCrcPolynomial;
            }
        }
    }
    return crc;
}

std::vector<uint8_t> BuildRequest(uint8_t command, const uint8_t* payload, uint16_t payloadLength) {
    if (payloadLength > kMaxCommandPayload) {
        return {};
    }
    std::vector<uint8_t> frame(kRequestHeader + payloadLength + kChecksumSize, 0);
    frame[0] = kStartByte;
    WriteBigEndian16(&frame[1], payloadLength);
    frame[3] = command;
    if (payloadLength != 0 && payload != nullptr) {
        std::memcpy(&frame[kRequestHeader], payload, payloadLength);
    }
    // The checksum covers the length, the command and the payload.
    const size_t covered = kRequestHeader - 1 + payloadLength;
    WriteBigEndian16(&frame[1 + covered], Crc16(&frame[1], covered));
    return frame;
}

bool ParseResponse(const uint8_t* data, size_t length, ParsedResponse& out) {
    if (data == nullptr || length < kResponseHeader + kChecksumSize) {
        return false;
    }
    if (data[0] != kStartByte) {
        return false;
    }
    const uint16_t payloadLength = ReadBigEndian16(&data[1]);
    if (payloadLength > kMaxCommandPayload ||
        length != kResponseHeader + payloadLength + kChecksumSize) {
        return false;
    }
    // The checksum covers the length, the command, the status and the payload.
    const size_t covered = kResponseHeader - 1 + payloadLength;
    if (Crc16(&data[1], covered) != ReadBigEndian16(&data[1 + covered])) {
        return false;
    }
    out.command = data[3];
    out.status = data[4];
    out.payloadLength = payloadLength;
    out.payload = payloadLength == 0 ? nullptr : &data[kResponseHeader];
    return true;
}

}  // namespace qelt
