// The "Start at login" entry in a temporary home: quoting, the packaging kinds, the
// directory rules, repair of a moved AppImage, and every written entry validated.
#include "autostart.h"
#include "logger.h"
#include "support/support.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using testsupport::TempDir;

namespace {

class Autostart : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* v : {"SNAP", "SNAP_NAME", "SNAP_REAL_HOME", "FLATPAK_ID", "APPIMAGE"})
            unsetenv(v);
        setenv("HOME", home.path().c_str(), 1);
    }
    std::string entry() const { return home.path() + "/.config/autostart/velmora.desktop"; }
    std::string line(const std::string& key) const {
        for (const auto& l : testsupport::lines(testsupport::read_file(entry())))
            if (l.rfind(key + "=", 0) == 0) return l.substr(key.size() + 1);
        return "<none>";
    }
    // desktop-file-validate accepts the entry: no error and no warning.
    void validate() const {
        const std::string tool = testsupport::find_program("desktop-file-validate");
        if (tool.empty()) GTEST_SKIP() << "desktop-file-validate is missing (desktop-file-utils)";
        const auto r = testsupport::run(tool, {entry()});
        EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
        EXPECT_EQ(r.out + r.err, "") << testsupport::read_file(entry());
    }
    bool logged(const std::string& text) const {
        for (const auto& l : logger::tail(20))
            if (l.find(text) != std::string::npos) return true;
        return false;
    }
    TempDir home;
};

TEST_F(Autostart, QuotingRoundTripsThroughTheExecLine) {
    struct Case {
        const char* path;
        const char* exec;
    } cases[] = {
        {"/opt/My Apps/V.AppImage", R"("/opt/My Apps/V.AppImage")"},
        {R"(/a"b)", R"("/a\\"b")"},
        {"/a$HOME", R"("/a\\$HOME")"},
        {"/a`id`", R"("/a\\`id\\`")"},
        {R"(/a\b)", R"("/a\\\\b")"},
        {"/100%/x", R"("/100%%/x")"},
        {"/50%%d", R"("/50%%%%d")"},
        // A line break in a path must not start a new key of the entry.
        {"/a\nExec=/evil\tb", R"("/a\nExec=/evil\tb")"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(autostart::quoted(c.path), c.exec) << c.path;
        EXPECT_EQ(autostart::program_of(c.exec), c.path) << c.exec;
        setenv("APPIMAGE", c.path, 1);
        ASSERT_TRUE(autostart::set(true));
        EXPECT_EQ(autostart::command(), c.exec);
        validate();
    }
    EXPECT_EQ(autostart::program_of("/usr/bin/velmora --mini"), "/usr/bin/velmora");
    EXPECT_EQ(autostart::program_of(R"(/x\sy --a)"), "/x");
    EXPECT_EQ(autostart::program_of(R"("/x\sy" --a)"), "/x y");
}

TEST_F(Autostart, EntryNamesTheInstallation) {
    struct Case {
        const char* var;
        const char* value;
        const char* exec;
        const char* icon;
    } cases[] = {
        {"SNAP_NAME", "velmora", "velmora --mini", "/snap/velmora/current/meta/gui/icon.png"},
        {"FLATPAK_ID", "org.velmora.Velmora", "flatpak run org.velmora.Velmora --mini",
         "org.velmora.Velmora"},
        {"APPIMAGE", "/home/u/Velmora.AppImage", "\"/home/u/Velmora.AppImage\" --mini", "velmora"},
    };
    for (const Case& c : cases) {
        SetUp();
        setenv(c.var, c.value, 1);
        ASSERT_TRUE(autostart::set(true, "--mini")) << c.var;
        EXPECT_TRUE(autostart::enabled());
        EXPECT_EQ(line("Exec"), c.exec);
        EXPECT_EQ(line("Icon"), c.icon);
        validate();
    }
    // A plain start names this very program file, and the entry has its eleven lines.
    SetUp();
    ASSERT_TRUE(autostart::set(true));
    char self[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    EXPECT_EQ(autostart::program_of(autostart::command()), self);
    const auto lines = testsupport::lines(testsupport::read_file(entry()));
    ASSERT_EQ(lines.size(), 11u);
    EXPECT_EQ(lines[0], "[Desktop Entry]");
    EXPECT_EQ(lines[10], "X-GNOME-Autostart-enabled=true");
    validate();
}

TEST_F(Autostart, DirectoryFollowsTheSandbox) {
    TempDir real;
    setenv("SNAP_REAL_HOME", real.path().c_str(), 1);
    ASSERT_TRUE(autostart::set(true));
    EXPECT_EQ(access((real.path() + "/.config/autostart/velmora.desktop").c_str(), F_OK), 0);
    EXPECT_NE(access(entry().c_str(), F_OK), 0);
    setenv("SNAP", "/snap/velmora/7", 1); // inside the Snap: its private home
    EXPECT_FALSE(autostart::enabled());
    ASSERT_TRUE(autostart::set(true));
    EXPECT_EQ(access(entry().c_str(), F_OK), 0);

    unsetenv("HOME");
    EXPECT_FALSE(autostart::enabled());
    EXPECT_FALSE(autostart::set(true));
    EXPECT_FALSE(autostart::set(false));
    EXPECT_EQ(autostart::command(), "");
}

TEST_F(Autostart, OffTwiceSucceedsAndAnUnwritableDirectoryFails) {
    ASSERT_TRUE(autostart::set(true));
    for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(autostart::set(false)) << i;
        EXPECT_FALSE(autostart::enabled()) << i;
        EXPECT_TRUE(logged("Autostart removed"));
    }
    // A file where the directory should be: nothing can be created below it.
    ASSERT_EQ(rmdir((home.path() + "/.config/autostart").c_str()), 0);
    testsupport::write_file(home.path() + "/.config/autostart", "");
    EXPECT_FALSE(autostart::set(true));
    EXPECT_TRUE(logged("Autostart not writable: " + entry()));
    EXPECT_TRUE(logged("Autostart NOT enabled"));
}

TEST_F(Autostart, RepairRewritesAMovedAppImageOnly) {
    TempDir apps;
    const std::string fresh = apps.write("New.AppImage", "");
    struct Case {
        const char* what;
        std::string old_exec;
        bool rewritten;
    } cases[] = {
        {"program inside a gone mount", "\"/tmp/.mount_VelmoXYZ/usr/bin/velmora\"", true},
        {"gone AppImage file", "/home/u/Old.APPIMAGE --mini", true},
        {"foreign program gone", "/usr/local/bin/velmora-old", false},
        {"program still there", "\"" + fresh + "\"", false},
        {"bare command", "velmora", false},
        {"no Exec line", "", false},
    };
    for (const Case& c : cases) {
        SetUp();
        setenv("APPIMAGE", fresh.c_str(), 1);
        const std::string text = "[Desktop Entry]\nType=Application\nName=Velmora\n" +
                                 (c.old_exec.empty() ? "" : "Exec=" + c.old_exec + "\n");
        testsupport::write_file(entry(), text);
        autostart::repair();
        if (c.rewritten) {
            EXPECT_EQ(autostart::command(), autostart::quoted(fresh)) << c.what;
            EXPECT_TRUE(logged("Autostart rewritten, its program was gone: " +
                               autostart::program_of(c.old_exec)))
                << c.what;
            validate();
        } else {
            EXPECT_EQ(testsupport::read_file(entry()), text) << c.what;
        }
    }
}

} // namespace
