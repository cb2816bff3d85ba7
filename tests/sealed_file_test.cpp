// The sealed envelope and the files written through it: round trips, every kind of damage,
// write failures that must leave the old file alone, and a writer killed mid-save.
#include "logger.h"
#include "save_crypt.h"
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

TEST(Crypt, EnvelopeLayoutAndChecks) {
    const std::string sealed = crypt::encrypt("payload");
    ASSERT_EQ(sealed.size(), 45u + 7u);
    EXPECT_EQ(sealed.substr(0, 4), "VELM");
    EXPECT_EQ(sealed[4], '\x01');
    EXPECT_EQ(sealed.find("payload"), std::string::npos);
    EXPECT_TRUE(crypt::looks_sealed(sealed));

    std::string out = "stale";
    EXPECT_EQ(crypt::decrypt(sealed, &out), crypt::ReadResult::Ok);
    EXPECT_EQ(out, "payload");
    EXPECT_EQ(crypt::decrypt(sealed, nullptr), crypt::ReadResult::Ok);

    out = "stale";
    EXPECT_EQ(crypt::decrypt("", &out), crypt::ReadResult::NotFound);
    EXPECT_EQ(out, "");
    out = "stale";
    EXPECT_EQ(crypt::decrypt(sealed.substr(0, 44), &out), crypt::ReadResult::Tampered);
    EXPECT_EQ(out, "");
    EXPECT_EQ(crypt::decrypt(sealed.substr(0, sealed.size() - 1), nullptr),
              crypt::ReadResult::Tampered);

    // looks_sealed only looks at the length and the magic.
    std::string fake = "VELM" + std::string(41, 'x');
    EXPECT_TRUE(crypt::looks_sealed(fake));
    EXPECT_EQ(crypt::decrypt(fake, nullptr), crypt::ReadResult::Tampered);
    EXPECT_FALSE(crypt::looks_sealed(fake.substr(0, 44)));
    EXPECT_FALSE(crypt::looks_sealed("VELX" + std::string(41, 'x')));
}

TEST(Sealed, EmptyPayloadRoundTripIs45Bytes) {
    TempDir tmp;
    const std::string path = tmp.path() + "/settings.dat";
    ASSERT_TRUE(sealed::write(path, ""));
    EXPECT_EQ(read_file(path).size(), 45u);
    EXPECT_FALSE(exists(path + ".tmp"));
    std::string out = "stale";
    EXPECT_EQ(sealed::read(path, &out), sealed::Result::Ok);
    EXPECT_EQ(out, "");
}

TEST(Sealed, SameContentTwiceGivesDifferentFilesThatReadTheSame) {
    TempDir tmp;
    const std::string a = tmp.path() + "/a.dat", b = tmp.path() + "/b.dat";
    const std::string content(5000, 'z');
    ASSERT_TRUE(sealed::write(a, content));
    ASSERT_TRUE(sealed::write(b, content));
    EXPECT_NE(read_file(a).substr(5, 24), read_file(b).substr(5, 24)) << "nonce reused";
    EXPECT_NE(read_file(a), read_file(b));
    std::string ra, rb;
    EXPECT_EQ(sealed::read(a, &ra), sealed::Result::Ok);
    EXPECT_EQ(sealed::read(b, &rb), sealed::Result::Ok);
    EXPECT_EQ(ra, content);
    EXPECT_EQ(rb, content);
}

TEST(Sealed, MissingEmptyAndUnreadableFilesAreMissingAndStayPut) {
    TempDir tmp;
    std::string out = "stale";
    EXPECT_EQ(sealed::read(tmp.path() + "/absent.dat", &out), sealed::Result::Missing);
    EXPECT_EQ(out, "");

    const std::string empty = tmp.write("empty.dat", "");
    EXPECT_EQ(sealed::read(empty, &out), sealed::Result::Missing);
    EXPECT_TRUE(exists(empty));

    // A directory opens but cannot be read: not a verdict on its contents.
    const std::string dir = tmp.mkdir("dir.dat");
    EXPECT_EQ(sealed::read(dir, &out), sealed::Result::Missing);
    EXPECT_TRUE(exists(dir));
    EXPECT_FALSE(exists(dir + ".manipuliert"));
}

// Every region of the envelope is covered: magic, version, nonce, tag, ciphertext.
TEST(Sealed, AnyDamageIsTamperedAndMovedAsideWithALogLine) {
    TempDir tmp;
    const std::string path = tmp.path() + "/usage.dat";
    const std::string content = "B 1234\nD eth0 20240101 5 6\n";
    ASSERT_TRUE(sealed::write(path, content));
    const std::string good = read_file(path);

    struct Damage {
        const char* region;
        size_t offset;
        unsigned char mask;
    };
    const Damage damages[] = {
        {"magic", 0, 0x01}, {"magic", 3, 0x80},       {"version", 4, 0x03},
        {"nonce", 5, 0x01}, {"nonce", 28, 0x40},      {"tag", 29, 0x01},
        {"tag", 44, 0x80},  {"ciphertext", 45, 0x01}, {"ciphertext", good.size() - 1, 0x10},
    };
    for (const auto& d : damages) {
        std::string bad = good;
        bad[d.offset] = static_cast<char>(bad[d.offset] ^ d.mask);
        write_file(path, bad);
        std::string out = "stale";
        EXPECT_EQ(sealed::read(path, &out), sealed::Result::Tampered) << d.region << d.offset;
        EXPECT_EQ(out, "") << d.region;
        EXPECT_FALSE(exists(path)) << d.region;
        // An earlier file moved aside is replaced by the newer one.
        EXPECT_EQ(read_file(path + ".manipuliert"), bad) << d.region;
        EXPECT_EQ(logger::tail(1).at(0).substr(8),
                  " WARN  seal broken, moved aside: " + path + ".manipuliert");
    }
    // The version byte set to 2 with everything else intact.
    std::string v2 = good;
    v2[4] = 2;
    write_file(path, v2);
    EXPECT_EQ(sealed::read(path, nullptr), sealed::Result::Tampered);
}

TEST(Sealed, ShortAndForeignFilesAreTampered) {
    TempDir tmp;
    const std::string short_file = tmp.write("short.dat", "VELM" + std::string(40, '\x01'));
    EXPECT_EQ(sealed::read(short_file, nullptr), sealed::Result::Tampered);
    EXPECT_EQ(read_file(short_file + ".manipuliert").size(), 44u);

    const std::string text = tmp.write("settings.dat", "version=4\ntheme=dark\n");
    std::string out;
    EXPECT_EQ(sealed::read(text, &out), sealed::Result::Tampered);
    EXPECT_EQ(out, "");
    EXPECT_EQ(read_file(text + ".manipuliert"), "version=4\ntheme=dark\n");

    // After moving aside, the next write creates a fresh file under the usual name.
    ASSERT_TRUE(sealed::write(text, "theme=light\n"));
    EXPECT_EQ(sealed::read(text, &out), sealed::Result::Ok);
    EXPECT_EQ(out, "theme=light\n");
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
        if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            GTEST_SKIP() << "making / private: " << strerror(errno);
        if (mount(dir.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
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

// A write that fails part-way (here: the file size limit, which binds root too) removes
// the temporary file and leaves the old file as it was.
TEST(Sealed, FailedWriteRemovesTheTemporaryFile) {
    TempDir tmp;
    const std::string path = tmp.path() + "/history.dat";
    ASSERT_TRUE(sealed::write(path, "old"));
    const std::string old_bytes = read_file(path);

    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit lim{65536, 65536};
        setrlimit(RLIMIT_FSIZE, &lim);
        _exit(sealed::write(path, std::string(300000, 'n')) ? 1 : 0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "write past the size limit reported success";
    expect_old_file_kept(path, old_bytes);
}

// A large store whose generation number is its first line; the rest depends on it, so a
// mix of two generations is detected as well.
std::string generation(uint64_t gen) {
    std::string s = std::to_string(gen) + "\n";
    s.resize(316280);
    for (size_t i = 16; i < s.size(); ++i) s[i] = static_cast<char>((i * 131 + gen * 7) >> 3);
    return s;
}

uint64_t generation_of(const std::string& payload) {
    return std::stoull(payload);
}

// The writer is killed at random moments, mostly in the middle of a save; every time the
// file must read back intact as the last complete generation or the one being written.
TEST(SealedCrash, KilledWriterLeavesOldOrNewFile) {
    TempDir tmp;
    const std::string path = tmp.path() + "/history.dat";
    ASSERT_TRUE(sealed::write(path, generation(0)));
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> delay_us(0, 12000);
    uint64_t seen = 0;
    int progressed = 0, cut_mid_write = 0;

    for (int round = 0; round < 100; ++round) {
        const uint64_t start = seen + 1;
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (uint64_t gen = start;; ++gen) sealed::write(path, generation(gen));
        }
        usleep(static_cast<useconds_t>(delay_us(rng)));
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));

        if (exists(path + ".tmp")) ++cut_mid_write;
        std::string out;
        ASSERT_EQ(sealed::read(path, &out), sealed::Result::Ok) << "round " << round;
        const uint64_t gen = generation_of(out);
        ASSERT_GE(gen, seen) << "round " << round;
        ASSERT_EQ(out, generation(gen)) << "round " << round;
        if (gen > seen) ++progressed;
        seen = gen;
    }
    EXPECT_FALSE(exists(path + ".manipuliert"));
    RecordProperty("rounds_with_new_generation", progressed);
    RecordProperty("rounds_killed_mid_write", cut_mid_write);
    std::printf("new generation in %d rounds, killed mid-write in %d\n", progressed, cut_mid_write);
}

} // namespace
