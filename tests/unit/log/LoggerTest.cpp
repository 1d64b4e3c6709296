#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "TemporaryHome.h"
#include "log/QeltLogger.h"

using namespace Qelt::BLE;
using QeltTest::ReadFile;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

class LoggerTest : public ::testing::Test {
protected:
    QeltTest::TemporaryHome temporaryHome_;
    const fs::path home_ = temporaryHome_.Path();
};

const std::regex kTimestamp(R"(^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\] )");

}  // namespace

TEST_F(LoggerTest, FirstLineCreatesTheDefaultFileBelowHome) {
    {
        QeltLogger logger;
        EXPECT_EQ(logger.Path(), "");
        logger.WriteLine("INFO ", nullptr, 0, nullptr, "x");
        const fs::path path = logger.Path();
        EXPECT_EQ(path.parent_path(), home_ / ".local/share/qelt/qelt-ble");
        EXPECT_TRUE(
            std::regex_match(path.filename().string(), std::regex(R"(qeltble_\d{8}_\d{6}\.log)")));

        const auto lines = Lines(ReadFile(path));
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_TRUE(std::regex_search(lines[0], kTimestamp)) << lines[0];
        EXPECT_NE(
            lines[0].find("[INFO ] - qeltble log session started (path: " + path.string() + ")"),
            std::string::npos);
        EXPECT_TRUE(std::regex_search(lines[1], kTimestamp)) << lines[1];
        EXPECT_EQ(lines[1].substr(26), "[INFO ] - x");
    }
}

TEST_F(LoggerTest, LocationFollowsTheLevel) {
    struct Case {
        const char* level;
        const char* file;
        int line;
        const char* function;
        const char* expected;
    };
    const Case cases[] = {
        {"ERROR", "/src/dev/dev.cpp", 42, "Open", "[ERROR] dev.cpp:42 Open() - m"},
        {"WARN ", "C:\\src\\dev\\dev.cpp", 7, "Run", "[WARN ] dev.cpp:7 Run() - m"},
        {"DEBUG", "plain.cpp", 1, nullptr, "[DEBUG] plain.cpp:1 () - m"},
        {"INFO ", nullptr, 5, "Ignored", "[INFO ] - m"},
        {"INFO ", "", 5, "Ignored", "[INFO ] - m"},
        {nullptr, nullptr, 0, nullptr, "[?    ] - m"},
    };
    QeltLogger logger;
    ASSERT_TRUE(logger.SetPath((home_ / "log.txt").string()));
    for (const Case& c : cases) {
        logger.WriteLine(c.level, c.file, c.line, c.function, "m");
    }
    const auto lines = Lines(ReadFile(home_ / "log.txt"));
    ASSERT_EQ(lines.size(), 1 + std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(lines[i + 1].substr(26), cases[i].expected);
    }
}

TEST_F(LoggerTest, SetPathAppendsAndCreatesDirectories) {
    const fs::path path = home_ / "a/b/c/app.log";
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "earlier content\n";
    QeltLogger logger;
    ASSERT_TRUE(logger.SetPath(path.string()));
    logger.Log("INFO ", "value %d", 5);
    const auto lines = Lines(ReadFile(path));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "earlier content");
    EXPECT_EQ(lines[2].substr(26), "[INFO ] - value 5");
    EXPECT_FALSE(fs::exists(home_ / ".local")) << "no default file once a path was chosen";

    const fs::path nested = home_ / "x/y/z/new.log";
    ASSERT_TRUE(logger.SetPath(nested.string()));
    EXPECT_TRUE(fs::exists(nested));
}

TEST_F(LoggerTest, RedirectLeavesANoteInTheOldFileAndClosingLineAtTheEnd) {
    const fs::path second = home_ / "second.log";
    fs::path first;
    {
        QeltLogger logger;
        logger.WriteLine("INFO ", nullptr, 0, nullptr, "one");
        first = logger.Path();
        ASSERT_TRUE(logger.SetPath(second.string()));
        logger.WriteLine("INFO ", nullptr, 0, nullptr, "two");
    }
    const std::string old = ReadFile(first);
    EXPECT_NE(old.find("- one\n"), std::string::npos);
    EXPECT_TRUE(old.ends_with("\n# Redirecting log to: " + second.string() + "\n"));
    const auto lines = Lines(ReadFile(second));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_NE(lines[0].find("qeltble log session started (path: " + second.string()),
              std::string::npos);
    EXPECT_EQ(lines[1].substr(26), "[INFO ] - two");
    EXPECT_TRUE(ReadFile(second).ends_with("\n# Log closed.\n"));
}

TEST_F(LoggerTest, AFailedOpenKeepsTheLogClosed) {
    QeltLogger logger;
    std::ofstream(home_ / "file") << "";
    EXPECT_FALSE(logger.SetPath((home_ / "file/x.log").string()));
    EXPECT_EQ(logger.Path(), "");
    logger.WriteLine("INFO ", nullptr, 0, nullptr, "dropped");
    EXPECT_EQ(logger.Path(), "");
    EXPECT_FALSE(fs::exists(home_ / ".local")) << "a failed open never falls back to the default";
}

TEST_F(LoggerTest, WithoutHomeLinesAreDropped) {
    unsetenv("HOME");
    EXPECT_EQ(QeltLogger::DefaultPath(), "");
    QeltLogger logger;
    logger.WriteLine("INFO ", nullptr, 0, nullptr, "dropped");
    EXPECT_EQ(logger.Path(), "");
}

TEST_F(LoggerTest, OverlongLineIsCutAndLosesItsNewline) {
    QeltLogger logger;
    ASSERT_TRUE(logger.SetPath((home_ / "long.log").string()));
    logger.WriteLine("INFO ", nullptr, 0, nullptr, std::string(10000, 'y').c_str());
    const std::string content = ReadFile(home_ / "long.log");
    const std::size_t start = content.find('\n') + 1;
    EXPECT_EQ(content.size() - start, 4607u);
    EXPECT_EQ(content.back(), 'y');
}

TEST_F(LoggerTest, LinesFromManyThreadsNeverInterleave) {
    QeltLogger logger;
    ASSERT_TRUE(logger.SetPath((home_ / "threads.log").string()));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&logger, t] {
            for (int i = 0; i < 200; ++i) {
                logger.Log("DEBUG", "thread %d line %d %s", t, i,
                           std::string(100, 'a' + t).c_str());
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    const auto lines = Lines(ReadFile(home_ / "threads.log"));
    ASSERT_EQ(lines.size(), 801u);
    const std::regex line(R"(^\[[^\]]+\] \[DEBUG\] - thread (\d) line \d+ ([a-d])\2{99}$)");
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(lines[i], match, line)) << lines[i];
        EXPECT_EQ(match[2].str()[0], 'a' + (match[1].str()[0] - '0'));
    }
}
