#include "ReceiverProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace Qelt::BLE::Bench {

namespace {

constexpr auto kAnswerLimit = std::chrono::seconds(10);
constexpr auto kEndGrace = std::chrono::seconds(10);
constexpr auto kTerminateGrace = std::chrono::seconds(3);

std::runtime_error Failure(const std::string& what) {
    return std::runtime_error(what + ": " + std::strerror(errno));
}

// Waits up to `limit` for `pid` to end; true when it did.
bool WaitForExit(pid_t pid, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (true) {
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR)) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace

ReceiverProcess::ReceiverProcess(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    int toChild[2];
    int fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0) {
        throw Failure("pipe");
    }
    if (pipe2(fromChild, O_CLOEXEC) != 0) {
        close(toChild[0]);
        close(toChild[1]);
        throw Failure("pipe");
    }
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) {
            _exit(127);
        }
        // The benchmark ignores SIGPIPE; the receiver gets the default back.
        signal(SIGPIPE, SIG_DFL);
        dup2(toChild[0], STDIN_FILENO);
        dup2(fromChild[1], STDOUT_FILENO);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    if (pid < 0) {
        close(toChild[1]);
        close(fromChild[0]);
        throw Failure("fork");
    }
    pid_ = pid;
    requests_ = toChild[1];
    answers_ = fromChild[0];
}

ReceiverProcess::~ReceiverProcess() {
    Stop();
}

void ReceiverProcess::WaitUntilReady(std::chrono::milliseconds limit) {
    const std::string line = ReadLine(limit);
    if (line != kReadyLine) {
        throw std::runtime_error("receiver " + std::to_string(pid_) + " did not get ready: '" +
                                 line + "'");
    }
}

ReceiverReport ReceiverProcess::Report() {
    const std::string line = Request(kReportRequest);
    const auto report = ParseReport(line);
    if (!report) {
        throw std::runtime_error("receiver " + std::to_string(pid_) + " answered '" + line + "'");
    }
    return *report;
}

void ReceiverProcess::SetTarget(uint64_t count) {
    const std::string line = Request(std::string(kTargetRequest) + " " + std::to_string(count));
    if (line != kOkLine) {
        throw std::runtime_error("receiver " + std::to_string(pid_) + " answered '" + line + "'");
    }
}

void ReceiverProcess::Stop() {
    if (pid_ <= 0) {
        return;
    }
    CloseRequests();
    if (!WaitForExit(pid_, kEndGrace)) {
        kill(pid_, SIGTERM);
        if (!WaitForExit(pid_, kTerminateGrace)) {
            kill(pid_, SIGKILL);
            while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
    }
    pid_ = -1;
    if (answers_ >= 0) {
        close(answers_);
        answers_ = -1;
    }
}

std::string ReceiverProcess::Request(const std::string& line) {
    const std::string request = line + "\n";
    if (requests_ < 0 ||
        write(requests_, request.data(), request.size()) != static_cast<ssize_t>(request.size())) {
        throw Failure("request to receiver " + std::to_string(pid_));
    }
    return ReadLine(kAnswerLimit);
}

std::string ReceiverProcess::ReadLine(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    size_t end = 0;
    while ((end = buffered_.find('\n')) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd fd{answers_, POLLIN, 0};
        const int ready = left.count() > 0 ? poll(&fd, 1, static_cast<int>(left.count())) : 0;
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            throw std::runtime_error("receiver " + std::to_string(pid_) +
                                     " did not answer in time");
        }
        char chunk[512];
        const ssize_t n = read(answers_, chunk, sizeof chunk);
        if (n <= 0) {
            throw std::runtime_error("receiver " + std::to_string(pid_) + " ended");
        }
        buffered_.append(chunk, static_cast<size_t>(n));
    }
    std::string line = buffered_.substr(0, end);
    buffered_.erase(0, end + 1);
    return line;
}

void ReceiverProcess::CloseRequests() {
    if (requests_ >= 0) {
        close(requests_);
        requests_ = -1;
    }
}

}  // namespace Qelt::BLE::Bench
