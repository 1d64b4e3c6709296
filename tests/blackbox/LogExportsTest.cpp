// The log file through the exported functions. Each test runs in a process
// of its own, so the process-wide log starts unopened in each.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "TemporaryHome.h"
#include "qeltble.h"

using QeltTest::ReadFile;
namespace fs = std::filesystem;

namespace {

std::string LogPath() {
    char buffer[1024];
    EXPECT_EQ(QELTBLE_GetLogFile(buffer, sizeof buffer), 0);
    return buffer;
}

class LogExports : public ::testing::Test {
protected:
    QeltTest::TemporaryHome temporaryHome_;
    const fs::path home_ = temporaryHome_.Path();
};

}  // namespace

TEST_F(LogExports, FirstLogCallCreatesTheDefaultFile) {
    EXPECT_EQ(LogPath(), "") << "nothing is opened before the first line";
    QELTBLE_Log(QELTBLE_LOG_INFO, nullptr, 0, nullptr, "x");
    QELTBLE_Log(7, "/src/dev/dev.cpp", 42, "Open", nullptr);

    const fs::path path = LogPath();
    EXPECT_EQ(path.parent_path(), home_ / ".local/share/qelt/qelt-ble");
    const std::string content = ReadFile(path);
    EXPECT_NE(content.find("[INFO ] - qeltble log session started"), std::string::npos);
    EXPECT_NE(content.find("[INFO ] - x\n"), std::string::npos);
    EXPECT_NE(content.find("[?    ] dev.cpp:42 Open() - \n"), std::string::npos);
}

TEST_F(LogExports, SetLogFileBeforeAnyLineAvoidsTheDefaultFile) {
    const fs::path path = home_ / "logs/app.log";
    ASSERT_EQ(QELTBLE_SetLogFile(path.c_str()), 0);
    QELTBLE_Log(QELTBLE_LOG_ERROR, nullptr, 0, nullptr, "m");
    EXPECT_EQ(LogPath(), path.string());
    EXPECT_NE(ReadFile(path).find("[ERROR] - m\n"), std::string::npos);
    EXPECT_FALSE(fs::exists(home_ / ".local"));
}

TEST_F(LogExports, ArgumentChecks) {
    EXPECT_EQ(QELTBLE_SetLogFile(nullptr), -1);
    EXPECT_STREQ(QELTBLE_GetLastErrorText(), "QELTBLE_SetLogFile: path is null/empty");
    EXPECT_EQ(QELTBLE_SetLogFile(""), -1);
    EXPECT_STREQ(QELTBLE_GetLastErrorText(), "QELTBLE_SetLogFile: path is null/empty");

    char buffer[4];
    EXPECT_EQ(QELTBLE_GetLogFile(nullptr, 10), -1);
    EXPECT_STREQ(QELTBLE_GetLastErrorText(), "QELTBLE_GetLogFile: invalid buffer");
    EXPECT_EQ(QELTBLE_GetLogFile(buffer, 0), -1);
    EXPECT_STREQ(QELTBLE_GetLastErrorText(), "QELTBLE_GetLogFile: invalid buffer");
}

TEST_F(LogExports, UnopenableFileFailsAndLeavesTheLogClosed) {
    std::ofstream(home_ / "file") << "";
    EXPECT_EQ(QELTBLE_SetLogFile((home_ / "file/x.log").c_str()), -1);
    EXPECT_STREQ(QELTBLE_GetLastErrorText(), "QELTBLE_SetLogFile: could not open log file");
    QELTBLE_Log(QELTBLE_LOG_INFO, nullptr, 0, nullptr, "dropped");
    EXPECT_EQ(LogPath(), "");
    EXPECT_FALSE(fs::exists(home_ / ".local"));
}

TEST_F(LogExports, GetLogFileCutsToTheBuffer) {
    ASSERT_EQ(QELTBLE_SetLogFile((home_ / "app.log").c_str()), 0);
    char buffer[5];
    std::memset(buffer, 'z', sizeof buffer);
    EXPECT_EQ(QELTBLE_GetLogFile(buffer, sizeof buffer), 0);
    EXPECT_EQ(std::string(buffer), home_.string().substr(0, 4));
}
