// The crash reporter's files and texts: report paths, the kept log, pending reports, sent
// names, the package line and the system and GPU lines, on fake trees.
#include "ruvasto.h"
#include "support/support.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using testsupport::read_file;
using testsupport::TempDir;

namespace {

bool exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

void install() {
    ruvasto::App app;
    app.name = "Velmora";
    ruvasto::install(app);
}

TEST(CrashFiles, ReportStartsInATemporaryDirectoryUntilReportDirMovesIt) {
    setenv("XDG_RUNTIME_DIR", "", 1);
    unsetenv("TMPDIR");
    install();
    EXPECT_EQ(ruvasto::report_path(), "/tmp/Velmora_crash.txt");
    EXPECT_EQ(ruvasto::crash_log_path(), "/tmp/crash_log.txt");

    TempDir tmp;
    setenv("XDG_RUNTIME_DIR", (tmp.path() + "/run").c_str(), 1);
    setenv("TMPDIR", "/nowhere", 1);
    install();
    EXPECT_EQ(ruvasto::report_path(), tmp.path() + "/run/Velmora_crash.txt");

    unsetenv("XDG_RUNTIME_DIR");
    setenv("TMPDIR", tmp.path().c_str(), 1);
    install();
    ASSERT_EQ(ruvasto::report_path(), tmp.path() + "/Velmora_crash.txt");
    tmp.write("Velmora_crash.txt", "=== report ===\n");
    const std::string cfg = tmp.mkdir("cfg");
    ruvasto::set_report_dir(cfg);
    EXPECT_EQ(ruvasto::report_path(), cfg + "/crash_report.txt");
    EXPECT_EQ(ruvasto::crash_log_path(), cfg + "/crash_log.txt");
    EXPECT_FALSE(exists(tmp.path() + "/Velmora_crash.txt"));
    EXPECT_EQ(read_file(cfg + "/crash_report.txt"), "=== report ===\n");
}

TEST(CrashFiles, KeptLogBecomesTheCrashLogOfAPendingReport) {
    TempDir tmp;
    const std::string log = tmp.path() + "/Velmora.log";
    install();
    EXPECT_EQ(ruvasto::rotate_log(log), ""); // no log yet
    testsupport::write_file(log, "run that crashed\n");
    EXPECT_EQ(ruvasto::rotate_log(log), log + ".1");
    EXPECT_FALSE(exists(log));
    EXPECT_EQ(read_file(log + ".1"), "run that crashed\n");
    ruvasto::set_report_dir(tmp.path());

    std::string text = "stale";
    EXPECT_FALSE(ruvasto::pending(text));
    EXPECT_EQ(text, "");
    tmp.write("crash_report.txt", "");
    EXPECT_FALSE(ruvasto::pending(text)) << "an empty report is no report";
    EXPECT_FALSE(exists(tmp.path() + "/crash_log.txt"));

    tmp.write("crash_report.txt", "=== Velmora crash report ===\n");
    ASSERT_TRUE(ruvasto::pending(text));
    EXPECT_EQ(text, "=== Velmora crash report ===\n");
    EXPECT_EQ(read_file(tmp.path() + "/crash_log.txt"), "run that crashed\n");
    // A crash log that exists already is kept.
    testsupport::write_file(log + ".1", "a later run\n");
    ASSERT_TRUE(ruvasto::pending(text));
    EXPECT_EQ(read_file(tmp.path() + "/crash_log.txt"), "run that crashed\n");

    ruvasto::discard();
    EXPECT_FALSE(exists(tmp.path() + "/crash_report.txt"));
    EXPECT_FALSE(exists(tmp.path() + "/crash_log.txt"));
    EXPECT_FALSE(ruvasto::pending(text));
}

TEST(CrashFiles, SentNamesAndUrlEncoding) {
    const std::pair<const char*, const char*> names[] = {
        {"/c/crash_report.txt", "/c/crash_report-sent.txt"},
        {"/c/crash_log.txt", "/c/crash_log-sent.txt"},
        {"/tmp/Velmora_crash", "/tmp/Velmora_crash-sent"},
        {"/c/report.txt.old", "/c/report.txt.old-sent"},
    };
    for (const auto& [in, out] : names) EXPECT_EQ(ruvasto::sent_name(in), out) << in;
    EXPECT_EQ(ruvasto::url_encode("aZ09-._~ /?&=+\n\xC3\xA9"),
              "aZ09-._~%20%2F%3F%26%3D%2B%0A%C3%A9");
}

TEST(CrashFiles, ContextIsCutToItsSlot) {
    ruvasto::set_context(ruvasto::Graphics, std::string(5000, 'g'));
    EXPECT_EQ(ruvasto::context_text(ruvasto::Graphics), std::string(2047, 'g'));
}

class CrashPackage : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* v : {"SNAP", "SNAP_INSTANCE_NAME", "SNAP_VERSION", "SNAP_REVISION",
                              "FLATPAK_ID", "APPIMAGE"})
            unsetenv(v);
        db.dpkg_info = tmp.mkdir("dpkg/info");
        db.dpkg_status = tmp.write("dpkg/status", "Package: other\nVersion: 9\n\n"
                                                  "Package: velmora\nStatus: install ok\n"
                                                  "Version: 1.0.4-1\n");
        db.rpm = tmp.path() + "/no-rpm";
        db.pacman_local = tmp.mkdir("pacman");
        db.flatpak_info = tmp.write("flatpak-info", "[Instance]\nbranch=stable\n"
                                                    "app-commit=abc123\n");
    }
    TempDir tmp;
    ruvasto::PackageDb db;
};

TEST_F(CrashPackage, OwnerFromEachDatabaseOrSandbox) {
    const std::string exe = "/usr/bin/velmora";
    EXPECT_EQ(ruvasto::describe_package(exe, db), "unpackaged");

    tmp.write("pacman/velmora-1.0.4-2/files", "%FILES%\nusr/\nusr/bin/velmora\n");
    tmp.write("pacman/velmora-1.0.4-2/desc", "%NAME%\nvelmora\n\n%VERSION%\n1.0.4-2\n");
    EXPECT_EQ(ruvasto::describe_package(exe, db), "arch velmora 1.0.4-2");

    db.rpm = tmp.write("rpm", "#!/bin/sh\necho 'velmora 1.0.4-3'\n");
    chmod(db.rpm.c_str(), 0755);
    EXPECT_EQ(ruvasto::describe_package(exe, db), "rpm velmora 1.0.4-3");

    tmp.write("dpkg/info/other.list", "/usr/bin/other\n");
    tmp.write("dpkg/info/velmora:amd64.list", "/.\n/usr/bin\n/usr/bin/velmora\n");
    EXPECT_EQ(ruvasto::describe_package(exe, db), "deb velmora 1.0.4-1");

    setenv("APPIMAGE", "/home/u/Velmora.AppImage", 1);
    EXPECT_EQ(ruvasto::describe_package(exe, db), "appimage /home/u/Velmora.AppImage");
    setenv("FLATPAK_ID", "app.velmora.Velmora", 1);
    EXPECT_EQ(ruvasto::describe_package(exe, db),
              "flatpak app.velmora.Velmora branch=stable app-commit=abc123");
    setenv("SNAP", "/snap/velmora/12", 1);
    setenv("SNAP_INSTANCE_NAME", "velmora", 1);
    setenv("SNAP_VERSION", "1.0.4", 1);
    setenv("SNAP_REVISION", "12", 1);
    EXPECT_EQ(ruvasto::describe_package(exe, db), "snap velmora 1.0.4 rev 12");
}

// The executable's path reaches rpm as one argument; quotes in it run nothing.
TEST_F(CrashPackage, RpmQueryRunsNoShell) {
    const std::string pwned = tmp.path() + "/pwned";
    const std::string exe = "/opt/v'; touch " + pwned + "; '/velmora";
    db.rpm = tmp.write("rpm", "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > " +
                                  tmp.path() + "/args\necho 'file is not owned by any package'\n");
    chmod(db.rpm.c_str(), 0755);
    EXPECT_EQ(ruvasto::describe_package(exe, db), "unpackaged");
    EXPECT_EQ(read_file(tmp.path() + "/args"),
              "-qf\n--qf\n%{NAME} %{VERSION}-%{RELEASE}\n" + exe + "\n");
    EXPECT_FALSE(exists(pwned));
}

TEST(CrashFiles, SystemAndGpuLinesFromAFakeTree) {
    TempDir root;
    root.write("etc/os-release", "NAME=Debian\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n"
                                 "VERSION_ID=\"12\"\nID_LIKE=ubuntu\n");
    root.write("proc/cpuinfo", "processor\t: 0\nmodel name\t: Test CPU @ 3.0GHz\n\n"
                               "processor\t: 1\nmodel name\t: Test CPU @ 3.0GHz\n");
    root.write("proc/meminfo", "MemTotal:       16384000 kB\nMemFree: 1 kB\n"
                               "MemAvailable:    8192000 kB\n");
    root.write("proc/asound/cards", " 0 [PCH            ]: HDA-Intel - HDA Intel PCH\n"
                                    "                      HDA Intel PCH at 0xf0000000 irq 150\n");
    setenv("XDG_CURRENT_DESKTOP", "GNOME", 1);
    setenv("XDG_SESSION_TYPE", "wayland", 1);
    setenv("DISPLAY", ":0", 1);
    setenv("WAYLAND_DISPLAY", "wayland-0", 1);
    setenv("LANG", "de_DE.UTF-8", 1);
    auto lines = ruvasto::system_lines(root.path());
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[0], "OS: Debian GNU/Linux 12 (bookworm) 12, like ubuntu");
    EXPECT_EQ(lines[1].rfind("Kernel: ", 0), 0u);
    EXPECT_EQ(lines[2].rfind("glibc: 2.", 0), 0u) << lines[2];
    EXPECT_EQ(lines[3], "CPU: Test CPU @ 3.0GHz, 2 threads");
    EXPECT_EQ(lines[4], "RAM: 16000 MB, available 8000 MB");
    EXPECT_EQ(lines[5],
              "Session: desktop GNOME, type wayland, X :0, Wayland wayland-0, lang de_DE.UTF-8");
    EXPECT_EQ(lines[6], "Package: " + ruvasto::package_line());
    EXPECT_EQ(lines[7], "ALSA card 0 [PCH            ]: HDA-Intel - HDA Intel PCH");

    TempDir bare;
    bare.write("proc/asound/cards", "--- no soundcards ---\n");
    setenv("SNAP", "/snap/velmora/12", 1);
    lines = ruvasto::system_lines(bare.path());
    EXPECT_EQ(lines.front(), "OS: host not readable from the sandbox; sandbox: snap");
    EXPECT_EQ(lines.back(), "ALSA cards: none");
    unsetenv("SNAP");
    EXPECT_EQ(ruvasto::system_lines(bare.path() + "/none").back(), "ALSA cards: not readable");

    EXPECT_EQ(ruvasto::gpu_lines(bare.path()),
              std::vector<std::string>{"GPUs: /sys/class/drm not readable"});
    bare.mkdir("sys/class/drm");
    EXPECT_EQ(ruvasto::gpu_lines(bare.path()),
              std::vector<std::string>{"GPUs: none in /sys/class/drm"});
    auto card = [&](const std::string& n, const char* vendor, const char* device, const char* vga) {
        const std::string d = "sys/class/drm/" + n + "/device/";
        bare.write(d + "vendor", std::string(vendor) + "\n");
        bare.write(d + "device", std::string(device) + "\n");
        bare.write(d + "subsystem_vendor", "0x17aa\n");
        bare.write(d + "subsystem_device", "0x22e6\n");
        bare.write(d + "boot_vga", std::string(vga) + "\n");
        bare.link(d + "driver", "../../../bus/pci/drivers/i915");
    };
    card("card1", "0x10de", "0x2560", "0");
    card("card0", "0x8086", "0x46a6", "1");
    bare.mkdir("sys/class/drm/card0-eDP-1");
    EXPECT_EQ(ruvasto::gpu_lines(bare.path()),
              (std::vector<std::string>{
                  "GPU 0: PCI 8086:46a6 (subsystem 17aa:22e6), driver i915, boot_vga",
                  "GPU 1: PCI 10de:2560 (subsystem 17aa:22e6), driver i915"}));
}

} // namespace
