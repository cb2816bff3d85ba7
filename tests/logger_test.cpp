// The log's line format, its memory tail and its open/closed life cycle.
#include "logger.h"
#include "support/support.h"

#include <gtest/gtest.h>
#include <regex>
#include <thread>

using testsupport::read_file;
using testsupport::TempDir;

namespace {

std::vector<std::string> file_lines(const std::string& path) {
    return testsupport::lines(read_file(path));
}

// The text after the "hh:mm:ss" stamp.
std::string body(const std::string& line) {
    return line.substr(8);
}

TEST(Logger, LinesCarryTimeAndAlignedLevelAndReachTheFileAtOnce) {
    TempDir tmp;
    tmp.write("Velmora.log", "left over from the last run\n");
    EXPECT_EQ(logger::file_path(), "");
    logger::init(tmp.path(), "Velmora");
    logger::init(tmp.path(), "second"); // ignored while open
    EXPECT_EQ(logger::file_path(), tmp.path() + "/Velmora.log");

    logger::info("started");
    logger::warn("100% %s %d");
    logger::error("two\tparts");
    // Read while still open: every line is flushed as it is written.
    auto lines = file_lines(tmp.path() + "/Velmora.log");
    ASSERT_EQ(lines.size(), 3u);
    for (const auto& l : lines)
        EXPECT_TRUE(std::regex_search(l, std::regex("^\\d\\d:\\d\\d:\\d\\d ")));
    EXPECT_EQ(body(lines[0]), " INFO  started");
    EXPECT_EQ(body(lines[1]), " WARN  100% %s %d");
    EXPECT_EQ(body(lines[2]), " ERROR two\tparts");
    EXPECT_EQ(logger::tail(3), lines);

    logger::shutdown();
    logger::warn("memory only");
    EXPECT_EQ(file_lines(tmp.path() + "/Velmora.log").size(), 3u);
    EXPECT_EQ(body(logger::tail(1)[0]), " WARN  memory only");
}

TEST(Logger, TailHoldsTheLast500LinesOldestFirst) {
    TempDir tmp;
    logger::init(tmp.path() + "/missing-dir", "Velmora"); // unopenable: the tail still works
    for (int i = 0; i <= 500; ++i) logger::info("line " + std::to_string(i));
    auto all = logger::tail(1000);
    ASSERT_EQ(all.size(), 500u);
    EXPECT_EQ(body(all.front()), " INFO  line 1");
    EXPECT_EQ(body(all.back()), " INFO  line 500");
    EXPECT_TRUE(logger::tail(0).empty());
    auto last = logger::tail(2);
    ASSERT_EQ(last.size(), 2u);
    EXPECT_EQ(body(last[0]), " INFO  line 499");
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
                (i % 2 ? logger::warn : logger::error)(msg);
                if (i % 50 == 0) (void)logger::tail(10);
            }
        });
    }
    for (auto& th : threads) th.join();
    logger::shutdown();

    auto lines = file_lines(tmp.path() + "/Velmora.log");
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
    const std::regex shape("^\\d\\d:\\d\\d:\\d\\d (WARN |ERROR) t(\\d) (\\d+)$");
    int next[kThreads] = {};
    for (const auto& l : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(l, m, shape)) << l;
        EXPECT_EQ(std::stoi(m[3]), next[std::stoi(m[2])]++) << l;
    }
}

} // namespace
