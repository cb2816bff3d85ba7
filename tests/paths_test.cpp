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
    return stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

TEST(Paths, ConfigDirFollowsXdgThenHomeThenWorkingDirectory) {
    TempDir tmp;
    setenv("XDG_CONFIG_HOME", (tmp.path() + "/xdg").c_str(), 1);
    setenv("HOME", (tmp.path() + "/home").c_str(), 1);
    // Both missing levels below the existing temporary directory are created, private.
    EXPECT_EQ(paths::resolve_config_dir(), tmp.path() + "/xdg/Velmora");
    EXPECT_EQ(mode_of(tmp.path() + "/xdg"), 0700);
    EXPECT_EQ(mode_of(tmp.path() + "/xdg/Velmora"), 0700);

    setenv("XDG_CONFIG_HOME", "", 1); // empty counts as unset
    EXPECT_EQ(paths::resolve_config_dir(), tmp.path() + "/home/.config/Velmora");
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

TEST(Paths, PackageKindTakesTheFirstNonEmptyVariable) {
    // SNAP, FLATPAK_ID, APPDIR (null = unset), the kind, sandboxed.
    const std::tuple<const char*, const char*, const char*, const char*, bool> cases[] = {
        {nullptr, nullptr, nullptr, "plain", false},
        {"/snap/velmora/12", "org.example.Velmora", "/tmp/.mount", "snap", true},
        {nullptr, "org.example.Velmora", "/tmp/.mount", "flatpak", true},
        {"", nullptr, "/tmp/.mount_Velm", "appimage", false},
        {"", "", "", "plain", false},
    };
    for (const auto& [snap, flatpak, appdir, kind, sandboxed] : cases) {
        const char* names[] = {"SNAP", "FLATPAK_ID", "APPDIR"};
        const char* values[] = {snap, flatpak, appdir};
        for (int i = 0; i < 3; ++i) {
            if (values[i])
                setenv(names[i], values[i], 1);
            else
                unsetenv(names[i]);
        }
        EXPECT_STREQ(paths::package_kind(), kind);
        EXPECT_EQ(paths::is_sandboxed(), sandboxed) << kind;
    }
}

} // namespace
