// Property dictionaries as BlueZ relays them, advertised names included. A
// received message is always well-formed (sd-bus checks the wire data), but
// its signature and values are anything the sender chose; so the input
// describes a message of any shape, biased towards the shapes the parsers
// expect, and the parsers must read it without fault and keep only text.
#include <sys/socket.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "bluez/ObjEntry.h"
#include "bluez/PropertyParsing.h"

namespace {

using Qelt::BLE::BlueZUtil::ObjEntry;
using Qelt::BLE::BlueZUtil::PropertyMap;

// Reads the fuzz input front to back; past its end it yields zeros.
class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t Byte() { return offset_ < size_ ? data_[offset_++] : 0; }
    uint64_t Wide() {
        uint64_t value = 0;
        for (int i = 0; i < 8; ++i) {
            value = value << 8 | Byte();
        }
        return value;
    }
    // Up to 20 bytes, as they come (possibly invalid UTF-8, which sd-bus
    // refuses; such inputs are skipped).
    std::string Text() {
        std::string text;
        for (size_t length = Byte() % 21; length > 0; --length) {
            const char c = static_cast<char>(Byte());
            text.push_back(c == '\0' ? 'x' : c);
        }
        return text;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t offset_ = 0;
};

// A complete type drawn from the input: basic types, arrays, dictionaries,
// structures and variants, nested at most `depth` deep.
std::string RandomType(Input& in, int depth) {
    static const char kBasic[] = "ybnqiuxtdsog";
    const uint8_t choice = in.Byte();
    if (depth == 0 || choice % 8 < 4) {
        return std::string(1, kBasic[choice % (sizeof kBasic - 1)]);
    }
    switch (choice % 8) {
        case 4:
            return "a" + RandomType(in, depth - 1);
        case 5:
            return "a{" + RandomType(in, 0) + RandomType(in, depth - 1) + "}";
        case 6: {
            std::string members = "(";
            for (int n = 1 + in.Byte() % 3; n > 0; --n) {
                members += RandomType(in, depth - 1);
            }
            return members + ")";
        }
        default:
            return "v";
    }
}

// The length of the complete type that starts at `type`.
size_t CompleteTypeLength(const char* type) {
    if (type[0] == 'a') {
        return 1 + CompleteTypeLength(type + 1);
    }
    if (type[0] == '(' || type[0] == '{') {
        const char close = type[0] == '(' ? ')' : '}';
        size_t length = 1;
        while (type[length] != close) {
            length += CompleteTypeLength(type + length);
        }
        return length + 1;
    }
    return 1;
}

bool AppendValue(sd_bus_message* m, const std::string& type, Input& in, int depth);

bool AppendBasic(sd_bus_message* m, char type, Input& in) {
    switch (type) {
        case 's': {
            const std::string text = in.Text();
            return sd_bus_message_append_basic(m, 's', text.c_str()) >= 0;
        }
        case 'o': {
            static const char* const kPaths[] = {"/", "/org/bluez", "/org/bluez/hci0",
                                                 "/org/bluez/hci0/dev_00_11_22_33_44_55"};
            return sd_bus_message_append_basic(m, 'o', kPaths[in.Byte() % 4]) >= 0;
        }
        case 'g':
            return sd_bus_message_append_basic(m, 'g', in.Byte() % 2 ? "a{sv}" : "") >= 0;
        case 'd': {
            const double value = static_cast<double>(in.Wide() % 1000000) / 7.0;
            return sd_bus_message_append_basic(m, 'd', &value) >= 0;
        }
        case 'b': {
            const int value = in.Byte() & 1;
            return sd_bus_message_append_basic(m, 'b', &value) >= 0;
        }
        default: {
            const uint64_t value = in.Wide();  // the low bytes serve every integer width
            return sd_bus_message_append_basic(m, type, &value) >= 0;
        }
    }
}

bool AppendContainer(sd_bus_message* m, const std::string& type, Input& in, int depth) {
    if (type[0] == 'v') {
        const std::string inner = RandomType(in, 2);
        return sd_bus_message_open_container(m, 'v', inner.c_str()) >= 0 &&
               AppendValue(m, inner, in, depth + 1) && sd_bus_message_close_container(m) >= 0;
    }
    if (type[0] == 'a') {
        const std::string element = type.substr(1);
        if (sd_bus_message_open_container(m, 'a', element.c_str()) < 0) {
            return false;
        }
        for (int n = depth > 4 ? 0 : in.Byte() % 4; n > 0; --n) {
            if (!AppendValue(m, element, in, depth + 1)) {
                return false;
            }
        }
        return sd_bus_message_close_container(m) >= 0;
    }
    // A structure or a dictionary entry: each member in turn.
    const char kind = type[0] == '(' ? 'r' : 'e';
    const std::string contents = type.substr(1, type.size() - 2);
    if (sd_bus_message_open_container(m, kind, contents.c_str()) < 0) {
        return false;
    }
    for (size_t at = 0; at < contents.size();) {
        const size_t length = CompleteTypeLength(contents.c_str() + at);
        if (!AppendValue(m, contents.substr(at, length), in, depth + 1)) {
            return false;
        }
        at += length;
    }
    return sd_bus_message_close_container(m) >= 0;
}

bool AppendValue(sd_bus_message* m, const std::string& type, Input& in, int depth) {
    if (type.size() == 1 && type[0] != 'v') {
        return AppendBasic(m, type[0], in);
    }
    return AppendContainer(m, type, in, depth);
}

// An sd-bus object that can create and seal messages but never talks to
// anyone: started on one end of a socket pair.
sd_bus* OfflineBus() {
    static sd_bus* bus = [] {
        int fds[2];
        sd_bus* b = nullptr;
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0 || sd_bus_new(&b) < 0 ||
            sd_bus_set_fd(b, fds[0], fds[0]) < 0 || sd_bus_start(b) < 0) {
            std::abort();
        }
        return b;
    }();
    return bus;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    // Mostly the shapes the parsers are given, with variants of any type.
    static const char* const kShapes[] = {"a{sv}", "a{sa{sv}}", "a{sa{sv}}", "a{sv}"};
    const uint8_t shape = in.Byte();
    const std::string type = shape % 5 < 4 ? kShapes[shape % 4] : RandomType(in, 4);

    sd_bus_message* message = nullptr;
    if (sd_bus_message_new_signal(OfflineBus(), &message, "/org/bluez/hci0",
                                  "org.freedesktop.DBus.Properties", "PropertiesChanged") < 0) {
        std::abort();
    }
    static uint64_t cookie = 0;
    if (AppendValue(message, type, in, 0) && sd_bus_message_seal(message, ++cookie, 0) >= 0) {
        sd_bus_message_rewind(message, 1);
        PropertyMap properties;
        Qelt::BLE::BlueZUtil::ParsePropsDict(message, properties);
        sd_bus_message_rewind(message, 1);
        ObjEntry entry;
        Qelt::BLE::BlueZUtil::ParseInterfaceList(message, entry);
        // Nothing but text ends up in the results, and an empty result is
        // what any other shape gives.
        if (type.rfind("a{sa{sv}}", 0) != 0 && !entry.interfaces.empty()) {
            std::abort();
        }
        if (type != "a{sv}" && !properties.empty()) {
            std::abort();
        }
    }
    sd_bus_message_unref(message);
    return 0;
}
