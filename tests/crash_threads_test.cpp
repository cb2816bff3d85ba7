// The context store under concurrent use: one thread keeps rewriting a context while
// another reads it the way the crash handler does.
#include "ruvasto.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace {

// Each text names its own length and is one repeated letter, so a torn read shows.
std::string text_for(int i) {
    const size_t len = 50 + static_cast<size_t>(i * 37) % 1900;
    return std::to_string(len) + ":" + std::string(len, static_cast<char>('a' + i % 26));
}

TEST(CrashThreads, ReaderAlwaysSeesOneCompleteText) {
    ruvasto::set_context(ruvasto::Audio, text_for(0));
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 1; i < 20000; ++i) ruvasto::set_context(ruvasto::Audio, text_for(i));
        done = true;
    });
    std::string torn;
    for (int reads = 0; !done || reads < 100;) {
        const std::string t = ruvasto::context_text(ruvasto::Audio);
        if (t.empty()) continue; // the writer kept the slot busy; the handler skips it
        ++reads;
        const size_t body = t.find(':') + 1; // each text starts with digits
        if (t.size() != body + std::stoul(t) || t.find_first_not_of(t.back(), body) != t.npos)
            torn = t;
    }
    writer.join();
    EXPECT_EQ(torn.substr(0, 80), "");
    EXPECT_EQ(ruvasto::context_text(ruvasto::Audio), text_for(19999));
}

} // namespace
