// The log's line format, its memory tail and its open/closed life cycle.
#include "logger.h"
#include "support/support.h"

#include <gtest/gtest.h>
#include <regex>
#include <sstream>
#include <thread>

using testsupport::read_file;
using testsupport::TempDir;

namespace {

std::vector<std::string> file_lines(const std::string& path) {
    std::vector<std::string> out;
    std::istringstream in(read_file(path));
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

TEST(Logger, LinesCarryTimeAndAlignedLevelAndReachTheFileAtOnce) {
    TempDir tmp;
    tmp.write("Velmora.log", "left over from the last run\n");
    logger::init(tmp.path(), "Velmora");
    EXPECT_EQ(logger::file_path(), tmp.path() + "/Velmora.log");

    logger::info("started");
    logger::warn("100% %s %d {}");
    logger::error("two\tparts");
    // Read without closing: every line is flushed as it is written.
    auto lines = file_lines(tmp.path() + "/Velmora.log");
    ASSERT_EQ(lines.size(), 3u);
    const std::regex stamp("^([01][0-9]|2[0-3]):[0-5][0-9]:[0-6][0-9] ");
    for (const auto& l : lines) EXPECT_TRUE(std::regex_search(l, stamp)) << l;
    EXPECT_EQ(lines[0].substr(8), " INFO  started");
    EXPECT_EQ(lines[1].substr(8), " WARN  100% %s %d {}");
    EXPECT_EQ(lines[2].substr(8), " ERROR two\tparts");
    EXPECT_EQ(logger::tail(3), lines);
    logger::shutdown();
}

TEST(Logger, TailHoldsTheLast500LinesOldestFirst) {
    for (int i = 0; i <= 500; ++i) logger::info("line " + std::to_string(i));
    auto all = logger::tail(1000);
    ASSERT_EQ(all.size(), 500u);
    EXPECT_EQ(all.front().substr(8), " INFO  line 1");
    EXPECT_EQ(all.back().substr(8), " INFO  line 500");
    EXPECT_TRUE(logger::tail(0).empty());
    auto last = logger::tail(2);
    ASSERT_EQ(last.size(), 2u);
    EXPECT_EQ(last[0].substr(8), " INFO  line 499");
    EXPECT_EQ(last[1].substr(8), " INFO  line 500");
}

TEST(Logger, SecondInitIsIgnoredAndShutdownKeepsOnlyTheTail) {
    TempDir tmp;
    EXPECT_EQ(logger::file_path(), "");
    logger::init(tmp.path(), "first");
    logger::init(tmp.path(), "second");
    EXPECT_EQ(logger::file_path(), tmp.path() + "/first.log");
    EXPECT_FALSE(testsupport::sh("test -e " + tmp.path() + "/second.log"));

    logger::warn("into the file");
    logger::shutdown();
    logger::warn("memory only");
    auto lines = file_lines(tmp.path() + "/first.log");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].substr(8), " WARN  into the file");
    EXPECT_EQ(logger::tail(1)[0].substr(8), " WARN  memory only");

    // Open again after a shutdown: a fresh, truncated file.
    logger::init(tmp.path(), "first");
    logger::info("again");
    lines = file_lines(tmp.path() + "/first.log");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].substr(8), " INFO  again");
    logger::shutdown();
}

TEST(Logger, UnopenableFileLeavesTheTailWorking) {
    TempDir tmp;
    tmp.write("plain-file", "x");
    logger::init(tmp.path() + "/plain-file", "Velmora");
    logger::error("nowhere to write");
    EXPECT_EQ(logger::tail(1)[0].substr(8), " ERROR nowhere to write");
    logger::shutdown();
}

// Lines from several threads never interleave and each thread's lines keep their order.
TEST(LoggerThreads, ConcurrentLinesStayWhole) {
    TempDir tmp;
    logger::init(tmp.path(), "Velmora");
    constexpr int kThreads = 4, kLines = 400;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i) {
                std::string msg = "t" + std::to_string(t) + " " + std::to_string(i);
                if (i % 3 == 0)
                    logger::info(msg);
                else if (i % 3 == 1)
                    logger::warn(msg);
                else
                    logger::error(msg);
                if (i % 50 == 0) (void)logger::tail(10);
            }
        });
    }
    for (auto& th : threads) th.join();
    logger::shutdown();

    auto lines = file_lines(tmp.path() + "/Velmora.log");
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
    const std::regex shape("^\\d\\d:\\d\\d:\\d\\d (INFO |WARN |ERROR) t(\\d) (\\d+)$");
    int next[kThreads] = {};
    for (const auto& l : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(l, m, shape)) << l;
        int t = std::stoi(m[2]);
        EXPECT_EQ(std::stoi(m[3]), next[t]++) << l;
    }
    EXPECT_EQ(logger::tail(1000).size(), 500u);
}

} // namespace
