// The process-wide log file. It opens lazily: nothing is created on disk
// until the first line is written, and then, unless the application chose a
// path before, a fresh time-stamped file below $HOME is created.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

namespace Qelt::BLE {

class QeltLogger {
public:
    // The process-wide logger, created on first use.
    static QeltLogger& Instance();

    // $HOME/.local/share/qelt/qelt-ble/qeltble_<date>_<time>.log, or empty
    // when HOME is not set.
    static std::string DefaultPath();

    QeltLogger() = default;
    QeltLogger(const QeltLogger&) = delete;
    QeltLogger& operator=(const QeltLogger&) = delete;
    // Writes the closing line into an open file and closes it.
    ~QeltLogger();

    // Redirects the log to `path`, opened for appending. False when the file
    // cannot be opened; the log then stays closed until the next call.
    bool SetPath(const std::string& path);

    // The path of the open log file; empty when none is open.
    std::string Path();

    // Writes one line. `level`, `file` and `function` may be null; a null or
    // empty `file` gives a line without location.
    void WriteLine(const char* level, const char* file, int line, const char* function,
                   const char* message);

    // Writes one line without location from a printf-style format.
    void Log(const char* level, const char* format, ...) __attribute__((format(printf, 3, 4)));

private:
    // Called with `mutex_` held.
    bool OpenAt(const std::string& path, bool append);

    std::FILE* file_ = nullptr;
    bool opened_ = false;
    std::string path_;
    std::mutex mutex_;
};

}  // namespace Qelt::BLE
