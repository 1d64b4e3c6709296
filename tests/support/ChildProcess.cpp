#include "ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace QeltTest {

ChildProcess::~ChildProcess() {
    Stop();
}

void ChildProcess::Start(const std::vector<std::string>& argv, int stdoutFd) {
    if (pid_ > 0) {
        throw std::logic_error("process already started");
    }
    std::vector<char*> args;
    for (const auto& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
        throw std::runtime_error(std::string("fork failed: ") + std::strerror(errno));
    }
    if (pid == 0) {
        // End with the test process, however it ends.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) {
            _exit(127);
        }
        if (stdoutFd >= 0) {
            dup2(stdoutFd, STDOUT_FILENO);
        }
        execvp(args[0], args.data());
        _exit(127);
    }
    pid_ = pid;
}

int ChildProcess::Stop(int signal, std::chrono::milliseconds grace) {
    if (pid_ <= 0) {
        return -1;
    }
    int status = 0;
    kill(pid_, signal);
    const auto deadline = std::chrono::steady_clock::now() + grace;
    while (true) {
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_ || (done < 0 && errno != EINTR)) {
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid_, SIGKILL);
            while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
            }
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
    return status;
}

}  // namespace QeltTest
