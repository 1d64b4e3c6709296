#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "log/StreamDebug.h"

using namespace Qelt::BLE;

namespace {

// The switch is read once per process, so each value is tried in a child.
bool EnabledInChildWith(const char* value) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (value != nullptr) {
            setenv("QELTBLE_DEBUG_STREAM", value, 1);
        } else {
            unsetenv("QELTBLE_DEBUG_STREAM");
        }
        const bool first = StreamDebugEnabled();
        // Later changes of the environment have no effect.
        setenv("QELTBLE_DEBUG_STREAM", first ? "0" : "1", 1);
        _exit(StreamDebugEnabled() == first ? (first ? 1 : 0) : 2);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_NE(WEXITSTATUS(status), 2) << "the answer changed with the environment";
    return WEXITSTATUS(status) == 1;
}

}  // namespace

TEST(StreamDebug, OnlyTheValueOneSwitchesItOn) {
    EXPECT_TRUE(EnabledInChildWith("1"));
    for (const char* value : {"true", "01", "", "0", " 1"}) {
        EXPECT_FALSE(EnabledInChildWith(value)) << "'" << value << "'";
    }
    EXPECT_FALSE(EnabledInChildWith(nullptr));
}
