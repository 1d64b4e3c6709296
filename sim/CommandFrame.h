// The UART command frames of the NUS generation, as the amplifier sees them.
//   request:  F0, length n (2, big-endian), command, payload (n), CRC (2)
//   response: F0, length n (2, big-endian), command, status, payload (n), CRC (2)
// The CRC is CRC-16/CCITT-FALSE (polynomial 0x1021, initial 0xFFFF, no
// reflection, no final XOR) over the bytes after the start byte, stored high
// byte first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "BusValue.h"

namespace QeltSim {

uint16_t Crc16CcittFalse(const uint8_t* data, size_t size);

Bytes BuildResponseFrame(uint8_t command, uint8_t status, const Bytes& payload);

struct CommandRequest {
    uint8_t command = 0;
    Bytes payload;
};

// Gathers request frames from the bytes written to the UART characteristic
// (a frame may span several writes). Bytes that cannot start a frame and
// frames with a bad checksum are dropped.
class RequestAssembler {
public:
    // Adds written bytes; returns the complete requests they finish.
    std::vector<CommandRequest> Add(const Bytes& bytes);
    size_t Buffered() const { return buffer_.size(); }

private:
    Bytes buffer_;
};

}  // namespace QeltSim
