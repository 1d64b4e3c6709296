// Raw sample counts as amplifiers put them into a notification: 24-bit or
// 32-bit two's-complement integers in either byte order. Each reader takes a
// pointer to the first byte of one sample; the caller guarantees that all of
// its bytes lie inside the payload.
#pragma once

#include <cstdint>

namespace Qelt::BLE::RawSample {

// Sign-extends the low 24 bits: bit 23 set means v - 2^24.
inline int32_t SignExtend24(uint32_t v) {
    return static_cast<int32_t>(v << 8) >> 8;
}

inline int32_t Int24BigEndian(const unsigned char* p) {
    return SignExtend24((uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | uint32_t{p[2]});
}

inline int32_t Int24LittleEndian(const unsigned char* p) {
    return SignExtend24((uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | uint32_t{p[0]});
}

inline int32_t Int32BigEndian(const unsigned char* p) {
    return static_cast<int32_t>((uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) |
                                (uint32_t{p[2]} << 8) | uint32_t{p[3]});
}

inline int32_t Int32LittleEndian(const unsigned char* p) {
    return static_cast<int32_t>((uint32_t{p[3]} << 24) | (uint32_t{p[2]} << 16) |
                                (uint32_t{p[1]} << 8) | uint32_t{p[0]});
}

}  // namespace Qelt::BLE::RawSample
