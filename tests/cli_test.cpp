// The command line of the real binary: options, their order, the help text and exit codes.
#include "cli.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <tuple>

using testsupport::run;
using testsupport::velmora_bin;

namespace {

const char* const kHelp =
    "Velmora 1.0.4 (build 1036)\n"
    "\n"
    "  Velmora                    open the window\n"
    "  Velmora --mini             open in the minimal view\n"
    "  Velmora --tab <0-4>        overview, connections, programs, destinations, statistics\n"
    "  Velmora --theme dark|light this run only\n"
    "  Velmora --list             print interfaces and connections, no window\n"
    "  Velmora --version          print the version\n"
    "  Velmora --render-icon <size> <file.png>   write the app icon\n";

TEST(CliBinary, OptionsExitCodesAndOutput) {
    const std::string version = "Velmora 1.0.4 (build 1036)\n";
    struct Case {
        std::vector<std::string> args;
        int exit;
        std::string out, err;
    };
    const Case cases[] = {
        {{"--version"}, 0, version, ""},
        {{"--help"}, 0, kHelp, ""},
        {{"-h"}, 0, kHelp, ""},
        // Options are honoured left to right: what ends the run first wins.
        {{"--mini", "--version"}, 0, version, ""},
        {{"--version", "--bogus"}, 0, version, ""},
        {{"--bogus", "--version"}, 2, kHelp, "unknown option: --bogus\n"},
        // Bare words and single-hyphen words are ignored; a lone "--" is an unknown option.
        {{"bare", "-x", "-", "--version"}, 0, version, ""},
        {{"--"}, 2, kHelp, "unknown option: --\n"},
        // Options missing their value are unknown; a consumed value is no option itself.
        {{"--tab"}, 2, kHelp, "unknown option: --tab\n"},
        {{"--mini", "--theme"}, 2, kHelp, "unknown option: --theme\n"},
        {{"--render-icon", "64"}, 2, kHelp, "unknown option: --render-icon\n"},
        {{"--render-icon"}, 2, kHelp, "unknown option: --render-icon\n"},
        {{"--theme", "--version", "--help"}, 0, kHelp, ""},
    };
    for (const auto& c : cases) {
        const auto r = run(velmora_bin(), c.args);
        EXPECT_EQ(std::tie(r.exit_code, r.out, r.err), std::tie(c.exit, c.out, c.err))
            << testing::PrintToString(c.args);
    }
    // --list ignores the start options before it and ends the parsing.
    const auto r = run(velmora_bin(), {"--mini", "--list", "--bogus"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_NE(("\n" + r.out).find("\nlo "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("kind.loopback"), std::string::npos);
}

// The help text and the README's options table name the same pages for the same numbers.
TEST(CliText, TabPagesMatchTheReadme) {
    const std::string readme = testsupport::read_file(std::string(VELMORA_SOURCE_DIR) + "/README.md");
    const size_t row = readme.find("| `--tab <n>` |");
    ASSERT_NE(row, std::string::npos);
    const std::string line = readme.substr(row, readme.find('\n', row) - row);
    const char* pages[] = {"overview", "connections", "programs", "destinations", "statistics"};
    size_t help_at = 0;
    const std::string help = kHelp;
    for (int i = 0; i < 5; ++i) {
        EXPECT_NE(line.find(std::to_string(i) + " " + pages[i]), std::string::npos) << line;
        const size_t at = help.find(pages[i], help_at);
        EXPECT_NE(at, std::string::npos) << pages[i];
        help_at = at; // in the order of their numbers
    }
    EXPECT_NE(help.find("--tab <0-4>"), std::string::npos);
}

TEST(CliParse, StartOptions) {
    const char* a1[] = {"velmora", "--tab", "3", "--mini", "--theme", "Light"};
    auto p = cli::parse(6, a1);
    EXPECT_EQ(p.action, cli::Action::Window);
    EXPECT_EQ(p.opts.force_tab, 3);
    EXPECT_TRUE(p.opts.force_mini);
    EXPECT_EQ(p.opts.force_theme, "Light");

    const char* a2[] = {"velmora", "--tab", "abc"};
    p = cli::parse(3, a2);
    EXPECT_EQ(p.action, cli::Action::Window);
    EXPECT_EQ(p.opts.force_tab, 0);

    const char* a3[] = {"velmora", "--tab", "-7x"};
    EXPECT_EQ(cli::parse(3, a3).opts.force_tab, -7);

    const char* a4[] = {"velmora", "--render-icon", "32", "out.png", "--bogus"};
    p = cli::parse(5, a4);
    EXPECT_EQ(p.action, cli::Action::RenderIcon);
    EXPECT_EQ(p.icon_size, "32");
    EXPECT_EQ(p.icon_file, "out.png");

    const char* a5[] = {"velmora"};
    p = cli::parse(1, a5);
    EXPECT_EQ(p.action, cli::Action::Window);
    EXPECT_EQ(p.opts.force_tab, -1);
    EXPECT_FALSE(p.opts.force_mini);
}

TEST(CliText, ControlBytesAreEscapedForTheTerminal) {
    EXPECT_EQ(cli::printable("eth0"), "eth0");
    EXPECT_EQ(cli::printable(std::string("a\x1b[31mb", 7)), "a\\x1B[31mb");
    EXPECT_EQ(cli::printable(std::string("x\x7f\n\t", 4)), "x\\x7F\\x0A\\x09");
    EXPECT_EQ(cli::printable(std::string("\0", 1)), "\\x00");
    // Bytes of UTF-8 text stay as they are.
    EXPECT_EQ(cli::printable("Caf\xc3\xa9"), "Caf\xc3\xa9");
}

TEST(CliText, InterfaceLineLayout) {
    net::Interface r;
    r.name = "br0";
    r.kind = net::Kind::Bridge;
    r.operstate = "up";
    r.mtu = 1500;
    r.members = {"eth0", "veth1"};
    r.ipv4 = {"10.0.0.1/24", "10.0.0.2/24"};
    r.ipv6 = {"fe80::1/64"};
    r.default_route = true;
    EXPECT_EQ(cli::interface_line(r),
              "br0              kind.bridge               up       mtu=1500  speed=-1     "
              "total=0 members=eth0,veth1, 10.0.0.1/24 10.0.0.2/24 default\n");

    net::Interface w;
    w.name = std::string("wl\x1b", 3);
    w.kind = net::Kind::Wireless;
    w.detail = "";
    w.operstate = "dormant";
    w.mtu = 1500;
    w.speed_mbps = 866;
    w.counts_in_total = true;
    w.master = "br0";
    w.master_kind = "bridge";
    w.ssid = "caf\xc3\xa9\x07";
    w.signal_dbm = -61;
    EXPECT_EQ(cli::interface_line(w),
              "wl\\x1B           kind.wireless             dormant  mtu=1500  speed=866    "
              "total=1 master=br0(bridge) ssid=caf\xc3\xa9\\x07 signal=-61\n");
}

} // namespace
