// The crash reporter's files and texts: report paths, the kept log, pending reports, sent
// names, the context cut and the rpm query.
#include "ruvasto.h"
#include "support/support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using testsupport::read_file;

namespace {

const ruvasto::App kApp = {"Velmora", "", "", "", "", {}, {}};

bool exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

// XDG_RUNTIME_DIR, else TMPDIR, else /tmp, until set_report_dir moves the report along.
TEST(CrashFiles, ReportStartsInATemporaryDirectoryUntilReportDirMovesIt) {
    testsupport::TempDir tmp;
    setenv("XDG_RUNTIME_DIR", "", 1);
    unsetenv("TMPDIR");
    const std::string steps[][3] = {
        {"", "", "/tmp/Velmora_crash.txt"},
        {"TMPDIR", tmp.path(), tmp.path() + "/Velmora_crash.txt"},
        {"XDG_RUNTIME_DIR", tmp.mkdir("run"), tmp.path() + "/run/Velmora_crash.txt"}};
    for (const auto& [var, value, want] : steps) {
        if (!var.empty()) setenv(var.c_str(), value.c_str(), 1);
        ruvasto::install(kApp);
        EXPECT_EQ(ruvasto::report_path(), want) << var;
    }
    tmp.write("run/Velmora_crash.txt", "=== report ===\n");
    ruvasto::set_report_dir(tmp.mkdir("cfg"));
    EXPECT_EQ(ruvasto::report_path() + " " + ruvasto::crash_log_path(),
              tmp.path() + "/cfg/crash_report.txt " + tmp.path() + "/cfg/crash_log.txt");
    EXPECT_FALSE(exists(tmp.path() + "/run/Velmora_crash.txt"));
    EXPECT_EQ(read_file(tmp.path() + "/cfg/crash_report.txt"), "=== report ===\n");
}

TEST(CrashFiles, KeptLogBecomesTheCrashLogOfAPendingReport) {
    testsupport::TempDir tmp;
    const std::string log = tmp.path() + "/Velmora.log";
    ruvasto::install(kApp);
    EXPECT_EQ(ruvasto::rotate_log(log), ""); // no log yet
    testsupport::write_file(log, "run that crashed\n");
    EXPECT_EQ(ruvasto::rotate_log(log), log + ".1");
    EXPECT_FALSE(exists(log));
    ruvasto::set_report_dir(tmp.path());
    std::string text;
    EXPECT_FALSE(ruvasto::pending(text));
    tmp.write("crash_report.txt", "");
    EXPECT_FALSE(ruvasto::pending(text)) << "an empty report is no report";
    tmp.write("crash_report.txt", "=== report ===\n");
    ASSERT_TRUE(ruvasto::pending(text));
    EXPECT_EQ(text, "=== report ===\n");
    testsupport::write_file(log + ".1", "a later run\n");
    ASSERT_TRUE(ruvasto::pending(text)); // a crash log that exists already is kept
    EXPECT_EQ(read_file(tmp.path() + "/crash_log.txt"), "run that crashed\n");
    ruvasto::discard();
    EXPECT_FALSE(exists(tmp.path() + "/crash_report.txt") || exists(tmp.path() + "/crash_log.txt"));
}

TEST(CrashFiles, SentNamesUrlEncodingAndContextCut) {
    for (const auto& [in, out] : {std::pair{"/c/crash_report.txt", "/c/crash_report-sent.txt"},
                                  {"/tmp/Velmora_crash", "/tmp/Velmora_crash-sent"},
                                  {"/c/report.txt.old", "/c/report.txt.old-sent"}})
        EXPECT_EQ(ruvasto::sent_name(in), out) << in;
    EXPECT_EQ(ruvasto::url_encode("aZ09-._~ /?&=+\n\xC3\xA9"),
              "aZ09-._~%20%2F%3F%26%3D%2B%0A%C3%A9");
    ruvasto::set_context(ruvasto::Graphics, std::string(5000, 'g'));
    EXPECT_EQ(ruvasto::context_text(ruvasto::Graphics), std::string(2047, 'g'));
}

TEST(CrashFiles, RpmQueryRunsNoShell) {
    testsupport::TempDir tmp;
    ruvasto::PackageDb db{tmp.mkdir("dpkg"), "", "", tmp.mkdir("pacman"), ""};
    const std::string exe = "/usr/bin/velmora";
    // The executable's path reaches rpm as one argument; quotes in it run nothing.
    const std::string pwned = tmp.path() + "/pwned", odd = "/opt/v'; touch " + pwned + "; '/v";
    db.rpm = tmp.write("rpm", "#!/bin/sh\nprintf '%s\\n' \"$@\" > " + tmp.path() +
                                  "/args\n[ \"$4\" = " + exe +
                                  " ] && echo 'velmora 1.0.4-3' || echo 'not owned'\n");
    chmod(db.rpm.c_str(), 0755);
    EXPECT_EQ(ruvasto::describe_package(odd, db), "unpackaged");
    EXPECT_EQ(read_file(tmp.path() + "/args"),
              "-qf\n--qf\n%{NAME} %{VERSION}-%{RELEASE}\n" + odd + "\n");
    EXPECT_FALSE(exists(pwned));
    EXPECT_EQ(ruvasto::describe_package(exe, db), "rpm velmora 1.0.4-3");
}

} // namespace
