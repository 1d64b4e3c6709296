#include "log/QeltLogger.h"

#include <cstdarg>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "log/LogTimestamp.h"

namespace Qelt::BLE {

namespace {

constexpr const char* kDefaultDirectory = "/.local/share/qelt/qelt-ble";
constexpr std::size_t kLocationSize = 256;
constexpr std::size_t kMessageSize = 4096;
constexpr std::size_t kLineSize = 4608;

// The text after the last '/' or '\'.
const char* BaseName(const char* path) {
    const char* base = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '/' || *p == '\\') {
            base = p + 1;
        }
    }
    return base;
}

// Creates the directory part of `path` with all missing parents; failures
// are left for the open that follows to report.
void CreateParentDirectories(const std::string& path) {
    const std::size_t separator = path.find_last_of("/\\");
    if (separator == std::string::npos || separator == 0) {
        return;
    }
    std::error_code ignored;
    std::filesystem::create_directories(path.substr(0, separator), ignored);
}

}  // namespace

QeltLogger& QeltLogger::Instance() {
    static QeltLogger logger;
    return logger;
}

std::string QeltLogger::DefaultPath() {
    const char* home = std::getenv("HOME");
    if (home == nullptr) {
        return {};
    }
    return std::string(home) + kDefaultDirectory + "/qeltble_" + LogFileTimestamp() + ".log";
}

QeltLogger::~QeltLogger() {
    if (file_ != nullptr) {
        std::fputs("\n# Log closed.\n", file_);
        std::fclose(file_);
        file_ = nullptr;
    }
}

bool QeltLogger::SetPath(const std::string& path) {
    std::lock_guard lock(mutex_);
    return OpenAt(path, true);
}

std::string QeltLogger::Path() {
    std::lock_guard lock(mutex_);
    return path_;
}

bool QeltLogger::OpenAt(const std::string& path, bool append) {
    opened_ = true;
    if (path.empty()) {
        return false;
    }
    if (file_ != nullptr) {
        std::fprintf(file_, "\n# Redirecting log to: %s\n", path.c_str());
        std::fclose(file_);
        file_ = nullptr;
    }
    CreateParentDirectories(path);
    file_ = std::fopen(path.c_str(), append ? "a" : "w");
    if (file_ == nullptr) {
        path_.clear();
        return false;
    }
    path_ = path;
    std::fprintf(file_, "%s [INFO ] - qeltble log session started (path: %s)\n",
                 LogLineTimestamp().c_str(), path_.c_str());
    std::fflush(file_);
    return true;
}

void QeltLogger::WriteLine(const char* level, const char* file, int line, const char* function,
                           const char* message) {
    char location[kLocationSize] = "";
    if (file != nullptr && file[0] != '\0') {
        if (std::snprintf(location, sizeof location, " %s:%d %s()", BaseName(file), line,
                          function != nullptr ? function : "") < 0) {
            return;
        }
    }
    char text[kLineSize];
    if (std::snprintf(text, sizeof text, "%s [%-5s]%s - %s\n", LogLineTimestamp().c_str(),
                      level != nullptr ? level : "?", location,
                      message != nullptr ? message : "") < 0) {
        return;
    }

    std::lock_guard lock(mutex_);
    if (!opened_) {
        OpenAt(DefaultPath(), false);
    }
    if (file_ != nullptr) {
        std::fputs(text, file_);
        std::fflush(file_);
    }
}

void QeltLogger::Log(const char* level, const char* format, ...) {
    char message[kMessageSize];
    va_list arguments;
    va_start(arguments, format);
    const int written = std::vsnprintf(message, sizeof message, format, arguments);
    va_end(arguments);
    if (written < 0) {
        return;
    }
    WriteLine(level, nullptr, 0, nullptr, message);
}

}  // namespace Qelt::BLE
