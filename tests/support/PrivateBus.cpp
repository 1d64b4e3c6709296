#include "PrivateBus.h"

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#ifndef QELTBLE_PRIVATE_BUS_CONF
#error "QELTBLE_PRIVATE_BUS_CONF must name the private bus configuration"
#endif

namespace QeltTest {

namespace {

std::string MakeTempDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qeltble-bus-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    return pattern;
}

// Reads the address line that dbus-daemon prints once it listens.
std::string ReadAddressLine(int fd) {
    std::string line;
    char c = 0;
    while (true) {
        const ssize_t n = read(fd, &c, 1);
        if (n <= 0) {
            throw std::runtime_error("dbus-daemon did not start");
        }
        if (c == '\n') {
            return line;
        }
        line.push_back(c);
    }
}

}  // namespace

PrivateBus::PrivateBus() : directory_(MakeTempDirectory()) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        throw std::runtime_error("pipe failed");
    }
    daemon_.Start({"dbus-daemon", std::string("--config-file=") + QELTBLE_PRIVATE_BUS_CONF,
                   "--address=unix:path=" + directory_ + "/bus", "--nofork", "--print-address=1"},
                  pipeFds[1]);
    close(pipeFds[1]);
    try {
        address_ = ReadAddressLine(pipeFds[0]);
    } catch (...) {
        close(pipeFds[0]);
        daemon_.Stop(SIGKILL);
        std::filesystem::remove_all(directory_);
        throw;
    }
    close(pipeFds[0]);
    if (const char* previous = getenv("DBUS_SYSTEM_BUS_ADDRESS")) {
        hadPreviousAddress_ = true;
        previousAddress_ = previous;
    }
    setenv("DBUS_SYSTEM_BUS_ADDRESS", address_.c_str(), 1);
}

PrivateBus::~PrivateBus() {
    Kill();
    if (hadPreviousAddress_) {
        setenv("DBUS_SYSTEM_BUS_ADDRESS", previousAddress_.c_str(), 1);
    } else {
        unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
}

void PrivateBus::Kill() {
    daemon_.Stop(SIGTERM);
}

}  // namespace QeltTest
