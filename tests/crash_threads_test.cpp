// The context store under concurrent use: one thread keeps rewriting a context while
// another reads it the way the crash handler does.
#include "ruvasto.h"

#include <atomic>
#include <gtest/gtest.h>
#include <string>
#include <thread>

namespace {

// Each text names its own length and is one repeated letter, so a torn read shows.
std::string text_for(int i) {
    const size_t len = 50 + static_cast<size_t>(i * 37) % 1900;
    return std::to_string(len) + ":" + std::string(len, static_cast<char>('a' + i % 26));
}

bool whole(const std::string& t) {
    const size_t colon = t.find(':');
    if (colon == std::string::npos) return false;
    const size_t len = std::stoul(t.substr(0, colon));
    const std::string body = t.substr(colon + 1);
    return body.size() == len && body.find_first_not_of(body[0]) == std::string::npos;
}

TEST(CrashThreads, ReaderAlwaysSeesOneCompleteText) {
    ruvasto::set_context(ruvasto::Audio, text_for(0));
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 1; i < 20000; ++i) ruvasto::set_context(ruvasto::Audio, text_for(i));
        done = true;
    });
    int reads = 0, torn = 0;
    std::string bad;
    while (!done || reads < 100) {
        const std::string t = ruvasto::context_text(ruvasto::Audio);
        if (t.empty()) continue; // the writer kept the slot busy; the handler skips it
        ++reads;
        if (!whole(t)) {
            ++torn;
            bad = t;
        }
    }
    writer.join();
    EXPECT_EQ(torn, 0) << bad.substr(0, 80);
    EXPECT_GE(reads, 100);
    EXPECT_EQ(ruvasto::context_text(ruvasto::Audio), text_for(19999));
}

} // namespace
