#include "BusValue.h"

#include <cerrno>
#include <cstring>
#include <type_traits>

namespace QeltSim {

namespace {

template <class>
inline constexpr bool kAlwaysFalse = false;

int AppendBytes(sd_bus_message* message, const Bytes& bytes) {
    return sd_bus_message_append_array(message, 'y', bytes.data(), bytes.size());
}

template <class Key>
int AppendByteMap(sd_bus_message* message, const std::map<Key, Bytes>& map, const char* entry,
                  char keyType) {
    // entry is "{qv}" or "{sv}"; the dictionary entry's contents are "qv" or "sv".
    const char contents[3] = {keyType, 'v', '\0'};
    int r = sd_bus_message_open_container(message, 'a', entry);
    for (const auto& [key, bytes] : map) {
        if (r < 0) {
            return r;
        }
        r = sd_bus_message_open_container(message, 'e', contents);
        if (r >= 0) {
            if constexpr (std::is_same_v<Key, std::string>) {
                r = sd_bus_message_append_basic(message, keyType, key.c_str());
            } else {
                r = sd_bus_message_append_basic(message, keyType, &key);
            }
        }
        if (r >= 0) {
            r = sd_bus_message_open_container(message, 'v', "ay");
        }
        if (r >= 0) {
            r = AppendBytes(message, bytes);
        }
        if (r >= 0) {
            r = sd_bus_message_close_container(message);
        }
        if (r >= 0) {
            r = sd_bus_message_close_container(message);
        }
    }
    if (r < 0) {
        return r;
    }
    return sd_bus_message_close_container(message);
}

template <class T>
int ReadBasic(sd_bus_message* message, char type, BusValue& value) {
    T item{};
    const int r = sd_bus_message_read_basic(message, type, &item);
    if (r <= 0) {
        return r < 0 ? r : -EINVAL;
    }
    value = item;
    return 0;
}

int ReadStringArray(sd_bus_message* message, char type, BusValue& value) {
    std::vector<std::string> strings;
    int r = sd_bus_message_enter_container(message, 'a', type == 'o' ? "o" : "s");
    if (r <= 0) {
        return r < 0 ? r : -EINVAL;
    }
    const char* item = nullptr;
    while ((r = sd_bus_message_read_basic(message, type, &item)) > 0) {
        strings.emplace_back(item);
    }
    if (r < 0) {
        return r;
    }
    r = sd_bus_message_exit_container(message);
    if (r < 0) {
        return r;
    }
    if (type == 'o') {
        std::vector<ObjectPath> paths;
        for (auto& s : strings) {
            paths.push_back(ObjectPath{std::move(s)});
        }
        value = std::move(paths);
    } else {
        value = std::move(strings);
    }
    return 0;
}

int ReadFixedArray(sd_bus_message* message, const char* contents, BusValue& value) {
    const void* data = nullptr;
    size_t size = 0;
    const int r = sd_bus_message_read_array(message, contents[1], &data, &size);
    if (r < 0) {
        return r;
    }
    if (contents[1] == 'y') {
        const auto* bytes = static_cast<const uint8_t*>(data);
        value = Bytes(bytes, bytes + size);
    } else {
        std::vector<double> numbers(size / sizeof(double));
        if (size != 0) {
            std::memcpy(numbers.data(), data, numbers.size() * sizeof(double));
        }
        value = std::move(numbers);
    }
    return 0;
}

}  // namespace

const char* SignatureOf(const BusValue& value) {
    return std::visit(
        [](const auto& v) -> const char* {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, bool>)
                return "b";
            else if constexpr (std::is_same_v<T, uint8_t>)
                return "y";
            else if constexpr (std::is_same_v<T, uint16_t>)
                return "q";
            else if constexpr (std::is_same_v<T, int16_t>)
                return "n";
            else if constexpr (std::is_same_v<T, uint32_t>)
                return "u";
            else if constexpr (std::is_same_v<T, int32_t>)
                return "i";
            else if constexpr (std::is_same_v<T, uint64_t>)
                return "t";
            else if constexpr (std::is_same_v<T, double>)
                return "d";
            else if constexpr (std::is_same_v<T, std::string>)
                return "s";
            else if constexpr (std::is_same_v<T, ObjectPath>)
                return "o";
            else if constexpr (std::is_same_v<T, std::vector<std::string>>)
                return "as";
            else if constexpr (std::is_same_v<T, std::vector<ObjectPath>>)
                return "ao";
            else if constexpr (std::is_same_v<T, Bytes>)
                return "ay";
            else if constexpr (std::is_same_v<T, std::vector<double>>)
                return "ad";
            else if constexpr (std::is_same_v<T, std::map<uint16_t, Bytes>>)
                return "a{qv}";
            else if constexpr (std::is_same_v<T, std::map<std::string, Bytes>>)
                return "a{sv}";
            else
                static_assert(kAlwaysFalse<T>, "unhandled type");
        },
        value);
}

int AppendValue(sd_bus_message* message, const BusValue& value) {
    return std::visit(
        [message](const auto& v) -> int {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, bool>) {
                const int b = v ? 1 : 0;
                return sd_bus_message_append_basic(message, 'b', &b);
            } else if constexpr (std::is_same_v<T, std::string>) {
                return sd_bus_message_append_basic(message, 's', v.c_str());
            } else if constexpr (std::is_same_v<T, ObjectPath>) {
                return sd_bus_message_append_basic(message, 'o', v.value.c_str());
            } else if constexpr (std::is_same_v<T, std::vector<std::string>> ||
                                 std::is_same_v<T, std::vector<ObjectPath>>) {
                const bool paths = std::is_same_v<T, std::vector<ObjectPath>>;
                int r = sd_bus_message_open_container(message, 'a', paths ? "o" : "s");
                for (const auto& item : v) {
                    if (r < 0) {
                        return r;
                    }
                    if constexpr (std::is_same_v<T, std::vector<ObjectPath>>) {
                        r = sd_bus_message_append_basic(message, 'o', item.value.c_str());
                    } else {
                        r = sd_bus_message_append_basic(message, 's', item.c_str());
                    }
                }
                return r < 0 ? r : sd_bus_message_close_container(message);
            } else if constexpr (std::is_same_v<T, Bytes>) {
                return AppendBytes(message, v);
            } else if constexpr (std::is_same_v<T, std::vector<double>>) {
                return sd_bus_message_append_array(message, 'd', v.data(),
                                                   v.size() * sizeof(double));
            } else if constexpr (std::is_same_v<T, std::map<uint16_t, Bytes>>) {
                return AppendByteMap(message, v, "{qv}", 'q');
            } else if constexpr (std::is_same_v<T, std::map<std::string, Bytes>>) {
                return AppendByteMap(message, v, "{sv}", 's');
            } else {
                return sd_bus_message_append_basic(message, SignatureOf(v)[0], &v);
            }
        },
        value);
}

int AppendVariant(sd_bus_message* message, const BusValue& value) {
    int r = sd_bus_message_open_container(message, 'v', SignatureOf(value));
    if (r >= 0) {
        r = AppendValue(message, value);
    }
    if (r >= 0) {
        r = sd_bus_message_close_container(message);
    }
    return r;
}

int ReadVariant(sd_bus_message* message, BusValue& value) {
    char type = 0;
    const char* contents = nullptr;
    int r = sd_bus_message_peek_type(message, &type, &contents);
    if (r <= 0 || type != 'v' || contents == nullptr) {
        return r < 0 ? r : -EINVAL;
    }
    const std::string signature = contents;
    r = sd_bus_message_enter_container(message, 'v', contents);
    if (r <= 0) {
        return r < 0 ? r : -EINVAL;
    }
    if (signature == "b") {
        int b = 0;
        r = sd_bus_message_read_basic(message, 'b', &b);
        value = b != 0;
        r = r > 0 ? 0 : (r < 0 ? r : -EINVAL);
    } else if (signature == "y") {
        r = ReadBasic<uint8_t>(message, 'y', value);
    } else if (signature == "q") {
        r = ReadBasic<uint16_t>(message, 'q', value);
    } else if (signature == "n") {
        r = ReadBasic<int16_t>(message, 'n', value);
    } else if (signature == "u") {
        r = ReadBasic<uint32_t>(message, 'u', value);
    } else if (signature == "i") {
        r = ReadBasic<int32_t>(message, 'i', value);
    } else if (signature == "t") {
        r = ReadBasic<uint64_t>(message, 't', value);
    } else if (signature == "d") {
        r = ReadBasic<double>(message, 'd', value);
    } else if (signature == "s" || signature == "o") {
        const char* text = nullptr;
        r = sd_bus_message_read_basic(message, signature[0], &text);
        if (r > 0) {
            if (signature == "s") {
                value = std::string(text);
            } else {
                value = ObjectPath{text};
            }
            r = 0;
        } else if (r == 0) {
            r = -EINVAL;
        }
    } else if (signature == "as" || signature == "ao") {
        r = ReadStringArray(message, signature[1], value);
    } else if (signature == "ay" || signature == "ad") {
        r = ReadFixedArray(message, signature.c_str(), value);
    } else {
        r = -EOPNOTSUPP;
    }
    if (r < 0) {
        return r;
    }
    return sd_bus_message_exit_container(message);
}

int ReadDict(sd_bus_message* message, PropertyDict& dict) {
    int r = sd_bus_message_enter_container(message, 'a', "{sv}");
    if (r <= 0) {
        return r < 0 ? r : -EINVAL;
    }
    while ((r = sd_bus_message_enter_container(message, 'e', "sv")) > 0) {
        const char* key = nullptr;
        r = sd_bus_message_read_basic(message, 's', &key);
        if (r <= 0) {
            return r < 0 ? r : -EINVAL;
        }
        BusValue value;
        r = ReadVariant(message, value);
        if (r < 0) {
            return r;
        }
        dict[key] = std::move(value);
        r = sd_bus_message_exit_container(message);
        if (r < 0) {
            return r;
        }
    }
    if (r < 0) {
        return r;
    }
    return sd_bus_message_exit_container(message);
}

bool AsUnsigned(const BusValue& value, uint64_t& out) {
    int64_t s = 0;
    if (const auto* t = std::get_if<uint64_t>(&value)) {
        out = *t;
        return true;
    }
    if (!AsSigned(value, s) || s < 0) {
        return false;
    }
    out = static_cast<uint64_t>(s);
    return true;
}

bool AsSigned(const BusValue& value, int64_t& out) {
    return std::visit(
        [&out](const auto& v) -> bool {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, uint8_t> || std::is_same_v<T, uint16_t> ||
                          std::is_same_v<T, int16_t> || std::is_same_v<T, uint32_t> ||
                          std::is_same_v<T, int32_t>) {
                out = static_cast<int64_t>(v);
                return true;
            } else if constexpr (std::is_same_v<T, uint64_t>) {
                if (v > static_cast<uint64_t>(INT64_MAX)) {
                    return false;
                }
                out = static_cast<int64_t>(v);
                return true;
            } else {
                return false;
            }
        },
        value);
}

bool AsDouble(const BusValue& value, double& out) {
    if (const auto* d = std::get_if<double>(&value)) {
        out = *d;
        return true;
    }
    int64_t s = 0;
    if (AsSigned(value, s)) {
        out = static_cast<double>(s);
        return true;
    }
    return false;
}

}  // namespace QeltSim
