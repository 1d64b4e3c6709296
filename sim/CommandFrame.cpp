#include "CommandFrame.h"

namespace QeltSim {

namespace {

constexpr uint8_t kStart = 0xF0;
constexpr size_t kMaxPayload = 512;

}  // namespace

uint16_t Crc16CcittFalse(const uint8_t* data, size_t size) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < size; ++i) {
        crc = static_cast<uint16_t>(crc ^ (data[i] << 8));
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021)
                                 : static_cast<uint16_t>(crc << 1);
        }
    }
    return crc;
}

Bytes BuildResponseFrame(uint8_t command, uint8_t status, const Bytes& payload) {
    Bytes frame;
    frame.reserve(payload.size() + 7);
    frame.push_back(kStart);
    frame.push_back(static_cast<uint8_t>(payload.size() >> 8));
    frame.push_back(static_cast<uint8_t>(payload.size() & 0xFF));
    frame.push_back(command);
    frame.push_back(status);
    frame.insert(frame.end(), payload.begin(), payload.end());
    const uint16_t crc = Crc16CcittFalse(frame.data() + 1, frame.size() - 1);
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    return frame;
}

std::vector<CommandRequest> RequestAssembler::Add(const Bytes& bytes) {
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
    std::vector<CommandRequest> requests;
    while (!buffer_.empty()) {
        if (buffer_[0] != kStart) {
            buffer_.erase(buffer_.begin());
            continue;
        }
        if (buffer_.size() < 3) {
            break;
        }
        const size_t length = (static_cast<size_t>(buffer_[1]) << 8) | buffer_[2];
        if (length > kMaxPayload) {
            buffer_.erase(buffer_.begin());
            continue;
        }
        const size_t total = length + 6;
        if (buffer_.size() < total) {
            break;
        }
        const uint16_t expected = Crc16CcittFalse(buffer_.data() + 1, length + 3);
        const uint16_t stored =
            static_cast<uint16_t>((buffer_[total - 2] << 8) | buffer_[total - 1]);
        if (expected == stored) {
            requests.push_back(CommandRequest{
                buffer_[3], Bytes(buffer_.begin() + 4, buffer_.begin() + 4 + length)});
            buffer_.erase(buffer_.begin(), buffer_.begin() + total);
        } else {
            // Not a frame after all: look for the next start byte.
            buffer_.erase(buffer_.begin());
        }
    }
    return requests;
}

}  // namespace QeltSim
