// The sealed envelope and the files written through it: round trips, every kind of damage,
// write failures that must leave the old file alone, and a writer killed mid-save.
#include "logger.h"
#include "sealed_file.h"
#include "support/support.h"

#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using testsupport::read_file;
using testsupport::TempDir;
using testsupport::write_file;

namespace {

bool exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

TEST(Sealed, RoundTripsWithAFreshNonceAndMissingFilesStayPut) {
    TempDir tmp;
    const std::string a = tmp.path() + "/a.dat", b = tmp.path() + "/b.dat";
    ASSERT_TRUE(sealed::write(a, ""));
    EXPECT_EQ(read_file(a).size(), 45u);
    std::string out = "stale";
    EXPECT_EQ(sealed::read(a, &out), sealed::Result::Ok);
    EXPECT_EQ(out, "");

    const std::string content(5000, 'z');
    ASSERT_TRUE(sealed::write(a, content));
    ASSERT_TRUE(sealed::write(b, content));
    EXPECT_FALSE(exists(a + ".tmp"));
    EXPECT_NE(read_file(a).substr(5, 24), read_file(b).substr(5, 24)) << "nonce reused";
    EXPECT_EQ(read_file(a).find(content.substr(0, 16)), std::string::npos);
    for (const auto& p : {a, b}) {
        EXPECT_EQ(sealed::read(p, &out), sealed::Result::Ok);
        EXPECT_EQ(out, content);
    }

    // Missing, empty and unreadable files are missing and stay put.
    out = "stale";
    EXPECT_EQ(sealed::read(tmp.path() + "/absent.dat", &out), sealed::Result::Missing);
    EXPECT_EQ(out, "");
    // An empty file, and a directory that opens but cannot be read: no verdict on either.
    for (const auto& p : {tmp.write("empty.dat", ""), tmp.mkdir("dir.dat")}) {
        EXPECT_EQ(sealed::read(p, &out), sealed::Result::Missing) << p;
        EXPECT_TRUE(exists(p));
        EXPECT_FALSE(exists(p + ".manipuliert"));
    }
}

// Every region of the envelope is covered: magic, version, nonce, tag, ciphertext.
TEST(Sealed, AnyDamageIsTamperedAndMovedAsideWithALogLine) {
    TempDir tmp;
    const std::string path = tmp.path() + "/usage.dat";
    ASSERT_TRUE(sealed::write(path, "B 1234\nD eth0 20240101 5 6\n"));
    const std::string good = read_file(path);

    std::string version = good;
    version[4] = 2; // another format version, the rest intact
    std::vector<std::string> damaged = {version, good.substr(0, good.size() - 1),
                                        "VELM" + std::string(40, '\x01'), // 44 bytes
                                        "version=4\ntheme=dark\n"};       // a plain text file
    for (size_t at : {size_t{0}, size_t{3}, size_t{4}, size_t{5}, size_t{28}, size_t{29},
                      size_t{44}, size_t{45}, good.size() - 1}) {
        damaged.push_back(good);
        damaged.back()[at] = static_cast<char>(good[at] ^ (1 << (at % 8)));
    }

    for (size_t i = 0; i < damaged.size(); ++i) {
        write_file(path, damaged[i]);
        std::string out = "stale";
        EXPECT_EQ(sealed::read(path, &out), sealed::Result::Tampered) << "case " << i;
        EXPECT_EQ(out, "") << "case " << i;
        EXPECT_FALSE(exists(path)) << "case " << i;
        // Each case replaces the file moved aside by the one before.
        EXPECT_EQ(read_file(path + ".manipuliert"), damaged[i]) << "case " << i;
        EXPECT_EQ(logger::tail(1).at(0).substr(8),
                  " WARN  seal broken, moved aside: " + path + ".manipuliert");
    }
    // The next write creates a fresh file under the usual name.
    ASSERT_TRUE(sealed::write(path, "fresh"));
    EXPECT_EQ(sealed::read(path, nullptr), sealed::Result::Ok);
}

void expect_old_file_kept(const std::string& path, const std::string& old_bytes) {
    EXPECT_EQ(read_file(path), old_bytes);
    EXPECT_FALSE(exists(path + ".tmp"));
    std::string out;
    EXPECT_EQ(sealed::read(path, &out), sealed::Result::Ok);
    EXPECT_EQ(out, "old");
}

TEST(Sealed, ReadOnlyDirectoryFailsAndKeepsTheOldFile) {
    TempDir tmp;
    const std::string dir = tmp.mkdir("ro");
    const std::string path = dir + "/history.dat";
    ASSERT_TRUE(sealed::write(path, "old"));
    const std::string old_bytes = read_file(path);
    if (geteuid() == 0) {
        // Root writes through directory permissions, so the directory becomes a read-only
        // mount, visible only in a private mount namespace.
        if (unshare(CLONE_NEWNS) != 0) GTEST_SKIP() << "unshare(CLONE_NEWNS): " << strerror(errno);
        if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount(dir.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
            mount(nullptr, dir.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0)
            GTEST_SKIP() << "read-only bind mount: " << strerror(errno);
    } else {
        ASSERT_EQ(chmod(dir.c_str(), 0555), 0);
    }
    EXPECT_FALSE(sealed::write(path, "new"));
    expect_old_file_kept(path, old_bytes);
}

TEST(Sealed, UnwritablePathsFail) {
    TempDir tmp;
    const std::string file = tmp.write("not-a-dir", "x");
    EXPECT_FALSE(sealed::write(file + "/settings.dat", "new"));
    EXPECT_EQ(read_file(file), "x");
    // A store that was never given a path must not write into the working directory.
    ASSERT_EQ(chdir(tmp.path().c_str()), 0);
    EXPECT_FALSE(sealed::write("", "new"));
    EXPECT_FALSE(exists(".tmp"));
}

// Once the rename is done the new file is in place, even when the directory cannot be
// opened for its fsync (write and search permission only); that is logged once.
TEST(Sealed, UnsyncableDirectoryStillCountsAsWritten) {
    TempDir tmp;
    const std::string dir = tmp.mkdir("wx");
    const std::string path = dir + "/usage.dat";
    EXPECT_EQ(testsupport::in_child([&](testsupport::Report& r) {
                  // Root opens any directory: the permission binds an ordinary user only.
                  if (geteuid() == 0 && (chown(tmp.path().c_str(), 65534, 65534) != 0 ||
                                         chown(dir.c_str(), 65534, 65534) != 0 ||
                                         setgid(65534) != 0 || setuid(65534) != 0))
                      return r.check(false, "cannot become an ordinary user");
                  r.check(chmod(dir.c_str(), 0300) == 0, "chmod");
                  r.check(sealed::write(path, "new") && sealed::write(path, "newer"),
                          "reported as failed");
                  int lines = 0;
                  for (const auto& l : logger::tail(50)) lines += l.find(dir) != std::string::npos;
                  r.check(lines == 1, "not one log line");
              }),
              "");
    std::string out;
    EXPECT_EQ(sealed::read(path, &out), sealed::Result::Ok);
    EXPECT_EQ(out, "newer");
}

// A write that fails part-way (here: the file size limit, which binds root too) removes
// the temporary file and leaves the old file as it was.
TEST(Sealed, FailedWriteRemovesTheTemporaryFile) {
    TempDir tmp;
    const std::string path = tmp.path() + "/history.dat";
    ASSERT_TRUE(sealed::write(path, "old"));
    const std::string old_bytes = read_file(path);
    EXPECT_EQ(testsupport::in_child([&](testsupport::Report& r) {
                  signal(SIGXFSZ, SIG_IGN);
                  rlimit lim{65536, 65536};
                  setrlimit(RLIMIT_FSIZE, &lim);
                  r.check(!sealed::write(path, std::string(300000, 'n')),
                          "failed write reported success");
              }),
              "");
    expect_old_file_kept(path, old_bytes);
}

// A history-sized store whose first line is its generation; the rest depends on it, so a
// mix of two generations is detected too.
std::string generation(uint64_t gen) {
    std::string s = std::to_string(gen) + "\n";
    s.resize(316280);
    for (size_t i = 16; i < s.size(); ++i) s[i] = static_cast<char>((i * 131 + gen * 7) >> 3);
    return s;
}

// The writer is killed at random moments, mostly in the middle of a save; every time the
// file must read back intact as the last complete generation or a later one.
TEST(SealedCrash, KilledWriterLeavesOldOrNewFile) {
    TempDir tmp;
    const std::string path = tmp.path() + "/history.dat";
    ASSERT_TRUE(sealed::write(path, generation(0)));
    std::mt19937 rng(7);
    uint64_t seen = 0;
    int progressed = 0, cut_mid_write = 0;
    for (int round = 0; round < 100; ++round) {
        const uint64_t start = seen + 1;
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (uint64_t gen = start;; ++gen) sealed::write(path, generation(gen));
        }
        usleep(static_cast<useconds_t>(rng() % 12000));
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);

        cut_mid_write += exists(path + ".tmp");
        std::string out;
        ASSERT_EQ(sealed::read(path, &out), sealed::Result::Ok) << "round " << round;
        const uint64_t gen = std::stoull(out);
        ASSERT_GE(gen, seen) << "round " << round;
        ASSERT_EQ(out, generation(gen)) << "round " << round;
        progressed += gen > seen;
        seen = gen;
    }
    EXPECT_FALSE(exists(path + ".manipuliert"));
    std::printf("new generation in %d rounds, killed mid-write in %d\n", progressed, cut_mid_write);
}

} // namespace
