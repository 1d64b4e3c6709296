#include "smp/SimpleCBOR.h"

#include <array>
#include <limits>

namespace Qelt::BLE::SimpleCBOR {

namespace {

constexpr uint64_t kAllOnes = std::numeric_limits<uint64_t>::max();

// Additional information values (lower five bits of the initial byte).
constexpr uint8_t kInfoOneByte = 24;
constexpr uint8_t kInfoTwoBytes = 25;
constexpr uint8_t kInfoFourBytes = 26;
constexpr uint8_t kInfoEightBytes = 27;
constexpr uint8_t kInfoIndefinite = 31;

uint8_t MajorTypeOf(uint8_t initial) {
    return static_cast<uint8_t>(initial >> 5);
}

// Adds without wrapping round; a position or a count that would exceed the
// 64-bit range stays at the largest value, which lies beyond any buffer.
uint64_t SaturatingAdd(uint64_t a, uint64_t b) {
    return b > kAllOnes - a ? kAllOnes : a + b;
}

// The data viewed as empty when there is no buffer at all.
uint64_t UsableSize(const uint8_t* data, uint64_t size) {
    return data == nullptr ? 0 : size;
}

// Appends a head with the argument in its shortest form.
void EncodeHead(std::vector<uint8_t>& out, uint8_t majorType, uint64_t argument) {
    const auto initial = [majorType](uint8_t info) {
        return static_cast<uint8_t>((majorType << 5) | info);
    };
    int argumentBytes = 0;
    if (argument < kInfoOneByte) {
        out.push_back(initial(static_cast<uint8_t>(argument)));
        return;
    } else if (argument <= 0xFF) {
        out.push_back(initial(kInfoOneByte));
        argumentBytes = 1;
    } else if (argument <= 0xFFFF) {
        out.push_back(initial(kInfoTwoBytes));
        argumentBytes = 2;
    } else if (argument <= 0xFFFFFFFF) {
        out.push_back(initial(kInfoFourBytes));
        argumentBytes = 4;
    } else {
        out.push_back(initial(kInfoEightBytes));
        argumentBytes = 8;
    }
    for (int shift = 8 * (argumentBytes - 1); shift >= 0; shift -= 8) {
        out.push_back(static_cast<uint8_t>(argument >> shift));
    }
}

// Reads the string at `pos` of the given major type without copying it.
// Leaves `pos` alone when there is no such string.
std::optional<std::span<const uint8_t>> ReadString(const uint8_t* data, uint64_t& pos,
                                                   uint64_t size, uint8_t majorType) {
    size = UsableSize(data, size);
    if (pos >= size || MajorTypeOf(data[pos]) != majorType) {
        return std::nullopt;
    }
    uint64_t end = pos;
    const Head head = readHead(data, end, size);
    if (head.indefinite || head.argument > size - end) {
        return std::nullopt;
    }
    const std::span<const uint8_t> bytes(data + end, static_cast<size_t>(head.argument));
    pos = end + head.argument;
    return bytes;
}

}  // namespace

Head readHead(const uint8_t* data, uint64_t& pos, uint64_t size) {
    const uint8_t initial = data[pos];
    const uint8_t info = initial & 0x1F;
    Head head;
    head.majorType = MajorTypeOf(initial);
    ++pos;
    if (info < kInfoOneByte) {
        head.argument = info;
        return head;
    }
    if (info == kInfoIndefinite) {
        head.argument = kAllOnes;
        head.indefinite = true;
        return head;
    }
    uint64_t argumentBytes = 0;
    switch (info) {
        case kInfoOneByte:
            argumentBytes = 1;
            break;
        case kInfoTwoBytes:
            argumentBytes = 2;
            break;
        case kInfoFourBytes:
            argumentBytes = 4;
            break;
        default:
            // 8-byte arguments and the reserved values 28 to 30.
            return head;
    }
    if (argumentBytes > size - pos) {
        return head;
    }
    for (uint64_t i = 0; i < argumentBytes; ++i) {
        head.argument = (head.argument << 8) | data[pos + i];
    }
    pos += argumentBytes;
    return head;
}

void encodeMapHeader(std::vector<uint8_t>& out, uint64_t count) {
    EncodeHead(out, kMap, count);
}

void encodeString(std::vector<uint8_t>& out, std::string_view text) {
    EncodeHead(out, kTextString, text.size());
    out.insert(out.end(), text.begin(), text.end());
}

void encodeBytes(std::vector<uint8_t>& out, std::span<const uint8_t> bytes) {
    EncodeHead(out, kByteString, bytes.size());
    out.insert(out.end(), bytes.begin(), bytes.end());
}

void encodeUnsigned(std::vector<uint8_t>& out, uint64_t value) {
    EncodeHead(out, kUnsigned, value);
}

void encodeBool(std::vector<uint8_t>& out, bool value) {
    out.push_back(value ? kTrue : kFalse);
}

// Skipping walks the items in the order they appear instead of recursing.
// Definite-length containers need no memory of their own: `pending` counts
// the items still to skip, and a container's header adds its children to it.
// An indefinite-length container ends at a break byte instead, so each open
// one keeps the count of items that follow it; only these are stacked.
void skipValue(const uint8_t* data, uint64_t& pos, uint64_t size) {
    size = UsableSize(data, size);

    struct OpenIndefinite {
        uint64_t pendingAfter;  // items left in the enclosing context
        bool isMap;
        bool keyNext;  // a map's break may only stand where a key would
    };
    std::array<OpenIndefinite, kMaxIndefiniteDepth> open;
    int depth = 0;
    uint64_t pending = 1;

    while (pos < size) {
        if (pending == 0) {
            if (depth == 0) {
                return;
            }
            // Between two items of the innermost indefinite container.
            OpenIndefinite& inner = open[depth - 1];
            if ((!inner.isMap || inner.keyNext) && data[pos] == kBreak) {
                ++pos;
                pending = inner.pendingAfter;
                --depth;
                continue;
            }
            inner.keyNext = inner.isMap && !inner.keyNext;
            pending = 1;
            continue;
        }

        --pending;
        const uint8_t majorType = MajorTypeOf(data[pos]);
        if (majorType == kTag) {
            // The tag's argument and content are read as the items after it.
            ++pos;
            continue;
        }
        const Head head = readHead(data, pos, size);
        switch (majorType) {
            case kByteString:
            case kTextString:
                if (!head.indefinite) {
                    pos = SaturatingAdd(pos, head.argument);
                }
                break;
            case kArray:
            case kMap: {
                const bool isMap = majorType == kMap;
                if (!head.indefinite) {
                    const uint64_t children =
                        isMap ? SaturatingAdd(head.argument, head.argument) : head.argument;
                    pending = SaturatingAdd(pending, children);
                    break;
                }
                if (depth == kMaxIndefiniteDepth) {
                    pos = size;
                    return;
                }
                open[depth++] = OpenIndefinite{pending, isMap, true};
                pending = 0;
                break;
            }
            default:
                // Integers and simple values: the head is the whole item.
                break;
        }
    }
}

uint64_t readUnsigned(const uint8_t* data, uint64_t& pos, uint64_t size) {
    size = UsableSize(data, size);
    if (pos >= size) {
        return 0;
    }
    return readHead(data, pos, size).argument;
}

std::optional<std::string> readText(const uint8_t* data, uint64_t& pos, uint64_t size) {
    const auto bytes = ReadString(data, pos, size, kTextString);
    if (!bytes) {
        return std::nullopt;
    }
    return std::string(bytes->begin(), bytes->end());
}

std::optional<std::span<const uint8_t>> readBytes(const uint8_t* data, uint64_t& pos,
                                                  uint64_t size) {
    return ReadString(data, pos, size, kByteString);
}

}  // namespace Qelt::BLE::SimpleCBOR
