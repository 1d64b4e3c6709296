// The small subset of CBOR that firmware image management exchanges.
//
// The writers append exactly the forms the image commands send: map headers,
// text and byte strings, unsigned integers in their shortest form, false and
// true. The readers work in place on a received buffer and are tolerant: a
// buffer that ends early, an item of another type or a form the codec does
// not support (8-byte arguments, indefinite strings) gives an empty or zero
// result or a position at or beyond the end, after which every read yields
// nothing. Readers never read outside [data, data + size), never allocate
// except to copy a text, and never throw.
//
// Positions are byte offsets into the buffer. A skip over a string that is
// cut short moves the position beyond `size`; every reader treats a position
// at or beyond `size` as the end of the data.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace Qelt::BLE::SimpleCBOR {

// Major types (upper three bits of an item's initial byte).
inline constexpr uint8_t kUnsigned = 0;
inline constexpr uint8_t kNegative = 1;
inline constexpr uint8_t kByteString = 2;
inline constexpr uint8_t kTextString = 3;
inline constexpr uint8_t kArray = 4;
inline constexpr uint8_t kMap = 5;
inline constexpr uint8_t kTag = 6;
inline constexpr uint8_t kSimple = 7;

inline constexpr uint8_t kFalse = 0xF4;
inline constexpr uint8_t kTrue = 0xF5;
inline constexpr uint8_t kBreak = 0xFF;

// The initial byte of an item and the argument that follows it.
struct Head {
    uint8_t majorType = 0;
    // The argument: an integer's value, a string's length or a container's
    // count. Zero for the unsupported forms (8-byte arguments, reserved
    // additional information, argument bytes missing at the end of the data).
    uint64_t argument = 0;
    // Additional information 31: indefinite length, or all ones as an integer.
    bool indefinite = false;
};

// Reads the head of the item at `pos` (which must be below `size`) and moves
// `pos` past it. Argument bytes are consumed only when all of them lie inside
// the data; otherwise only the initial byte is.
Head readHead(const uint8_t* data, uint64_t& pos, uint64_t size);

// Writers: each appends one item to `out`.
void encodeMapHeader(std::vector<uint8_t>& out, uint64_t count);
void encodeString(std::vector<uint8_t>& out, std::string_view text);
void encodeBytes(std::vector<uint8_t>& out, std::span<const uint8_t> bytes);
void encodeUnsigned(std::vector<uint8_t>& out, uint64_t value);
void encodeBool(std::vector<uint8_t>& out, bool value);

// Moves `pos` past one item, including everything nested in it. Uses a fixed
// amount of memory whatever the nesting; nesting of more than
// kMaxIndefiniteDepth indefinite-length containers counts as malformed and
// moves `pos` to the end of the data. Nothing happens when `pos` is at or
// beyond `size`.
void skipValue(const uint8_t* data, uint64_t& pos, uint64_t size);
inline constexpr int kMaxIndefiniteDepth = 64;

// The argument of the item at `pos`, whatever its major type; all ones for an
// indefinite item, 0 for the unsupported forms. Returns 0 and leaves `pos`
// alone when `pos` is at or beyond `size`.
uint64_t readUnsigned(const uint8_t* data, uint64_t& pos, uint64_t size);

// A text string at `pos`, copied. Nothing (and `pos` unchanged) when the item
// is not a text string, has indefinite length, or runs past the end of the
// data; the caller may then skip it with skipValue.
std::optional<std::string> readText(const uint8_t* data, uint64_t& pos, uint64_t size);

// A byte string at `pos`, as a view into the buffer. Same rules as readText.
std::optional<std::span<const uint8_t>> readBytes(const uint8_t* data, uint64_t& pos,
                                                  uint64_t size);

}  // namespace Qelt::BLE::SimpleCBOR
