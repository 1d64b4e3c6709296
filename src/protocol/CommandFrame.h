// Request and response frames of the command channel on the UART service.
//
// A request is F0, the payload length n (2 bytes, big-endian), the command,
// n payload bytes and a CRC-16 over everything between the start byte and the
// checksum. A response carries a status byte after the command and is
// therefore one byte longer than a request with the same payload. Payloads
// hold at most 512 bytes.
//
// These functions keep no state, never throw and may be called from any
// thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qelt {

// Largest payload a request or a response may carry.
inline constexpr uint16_t kMaxCommandPayload = 512;

// One response frame split into its fields. It does not own the payload: the
// pointer refers into the parsed buffer and is valid only as long as it is.
struct ParsedResponse {
    uint8_t command = 0;
    uint8_t status = 0;
    const uint8_t* payload = nullptr;  // null when payloadLength is 0
    uint16_t payloadLength = 0;
};

// CRC-16 with polynomial 0x1021, initial value 0xFFFF, most significant bit
// first, no reflection and no final exclusive-or. Its check value over
// "123456789" is 0x29B1.
uint16_t Crc16(const uint8_t* data, size_t length);

// Builds a request frame. A null payload with a non-zero length sends that
// many zero bytes. Returns an empty vector when the payload is longer than
// kMaxCommandPayload.
std::vector<uint8_t> BuildRequest(uint8_t command, const uint8_t* payload, uint16_t payloadLength);

// Checks a response frame and fills `out` when it is valid. The frame must be
// exactly one response (no trailing bytes) with a matching checksum; on any
// fault the result is false and `out` stays untouched. The command byte is
// not compared with any request.
bool ParseResponse(const uint8_t* data, size_t length, ParsedResponse& out);

}  // namespace qelt
