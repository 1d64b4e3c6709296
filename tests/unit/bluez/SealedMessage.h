// Builds real, sealed sd-bus messages without any daemon: the bus object is
// started on one end of a socket pair that nothing ever reads, which is
// enough for sd-bus to create, seal and read messages.
#pragma once

#include <sys/socket.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <stdexcept>

namespace QeltTest {

struct MessageUnref {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;

class SealedMessageFactory {
public:
    SealedMessageFactory() {
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds_) != 0) {
            throw std::runtime_error("socketpair failed");
        }
        if (sd_bus_new(&bus_) < 0 || sd_bus_set_fd(bus_, fds_[0], fds_[0]) < 0 ||
            sd_bus_start(bus_) < 0) {
            throw std::runtime_error("could not start an offline sd-bus object");
        }
    }
    SealedMessageFactory(const SealedMessageFactory&) = delete;
    SealedMessageFactory& operator=(const SealedMessageFactory&) = delete;
    ~SealedMessageFactory() {
        sd_bus_close_unref(bus_);  // closes fds_[0]
        close(fds_[1]);
    }

    // A signal whose body `append` writes, sealed and rewound for reading.
    Message Build(const std::function<void(sd_bus_message*)>& append) {
        sd_bus_message* raw = nullptr;
        if (sd_bus_message_new_signal(bus_, &raw, "/org/bluez/hci0/dev_00_11_22_33_44_55",
                                      "org.freedesktop.DBus.Properties", "PropertiesChanged") < 0) {
            throw std::runtime_error("could not create a message");
        }
        Message message(raw);
        append(message.get());
        if (sd_bus_message_seal(message.get(), ++cookie_, 0) < 0 ||
            sd_bus_message_rewind(message.get(), 1) < 0) {
            throw std::runtime_error("could not seal the message");
        }
        return message;
    }

private:
    int fds_[2] = {-1, -1};
    sd_bus* bus_ = nullptr;
    uint64_t cookie_ = 0;
};

}  // namespace QeltTest
