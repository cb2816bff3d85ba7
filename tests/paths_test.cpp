// Where the configuration directory lands for each environment, and the packaging kind.
#include "paths.h"
#include "support/support.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using testsupport::TempDir;

namespace {

int mode_of(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return -1;
    return S_ISDIR(st.st_mode) ? static_cast<int>(st.st_mode & 07777) : -2;
}

void clear_packaging() {
    for (const char* v : {"SNAP", "FLATPAK_ID", "APPDIR"}) unsetenv(v);
}

TEST(Paths, ConfigDirFollowsXdgThenHomeThenWorkingDirectory) {
    TempDir tmp;
    setenv("XDG_CONFIG_HOME", (tmp.path() + "/xdg").c_str(), 1);
    setenv("HOME", (tmp.path() + "/home").c_str(), 1);
    // Both missing levels below the existing temporary directory are created, private.
    EXPECT_EQ(paths::resolve_config_dir(), tmp.path() + "/xdg/Velmora");
    EXPECT_EQ(mode_of(tmp.path() + "/xdg"), 0700);
    EXPECT_EQ(mode_of(tmp.path() + "/xdg/Velmora"), 0700);

    // An empty XDG_CONFIG_HOME counts as unset.
    setenv("XDG_CONFIG_HOME", "", 1);
    EXPECT_EQ(paths::resolve_config_dir(), tmp.path() + "/home/.config/Velmora");
    EXPECT_EQ(mode_of(tmp.path() + "/home/.config"), 0700);
    EXPECT_EQ(mode_of(tmp.path() + "/home/.config/Velmora"), 0700);

    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", "", 1);
    ASSERT_EQ(chdir(tmp.path().c_str()), 0);
    EXPECT_EQ(paths::resolve_config_dir(), ".Velmora");
    EXPECT_EQ(mode_of(tmp.path() + "/.Velmora"), 0700);
}

TEST(Paths, ConfigDirIsComputedOnce) {
    TempDir tmp;
    setenv("XDG_CONFIG_HOME", (tmp.path() + "/first").c_str(), 1);
    const std::string first = paths::config_dir();
    EXPECT_EQ(first, tmp.path() + "/first/Velmora");
    setenv("XDG_CONFIG_HOME", (tmp.path() + "/second").c_str(), 1);
    EXPECT_EQ(paths::config_dir(), first);
    EXPECT_EQ(mode_of(tmp.path() + "/second"), -1);
}

TEST(Paths, ExistingDirectoryKeepsItsMode) {
    TempDir tmp;
    std::string dir = tmp.mkdir("cfg/Velmora");
    chmod(dir.c_str(), 0755);
    setenv("XDG_CONFIG_HOME", (tmp.path() + "/cfg").c_str(), 1);
    EXPECT_EQ(paths::resolve_config_dir(), dir);
    EXPECT_EQ(mode_of(dir), 0755);
}

TEST(Paths, PackageKindTakesTheFirstNonEmptyVariable) {
    struct Case {
        const char* snap;
        const char* flatpak;
        const char* appdir;
        const char* kind;
        bool sandboxed;
    };
    const Case cases[] = {
        {nullptr, nullptr, nullptr, "plain", false},
        {"/snap/velmora/12", "org.example.Velmora", "/tmp/.mount", "snap", true},
        {nullptr, "org.example.Velmora", "/tmp/.mount", "flatpak", true},
        {"", nullptr, "/tmp/.mount_Velm", "appimage", false},
        {"", "", "", "plain", false},
    };
    for (const auto& c : cases) {
        clear_packaging();
        if (c.snap) setenv("SNAP", c.snap, 1);
        if (c.flatpak) setenv("FLATPAK_ID", c.flatpak, 1);
        if (c.appdir) setenv("APPDIR", c.appdir, 1);
        EXPECT_STREQ(paths::package_kind(), c.kind);
        EXPECT_EQ(paths::is_sandboxed(), c.sandboxed) << c.kind;
    }
}

} // namespace
