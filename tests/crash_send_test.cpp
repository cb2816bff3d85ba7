// Sending a crash report: the mail, each route with fake mail programs on PATH, the mail
// portal against a fake portal on a private session bus, and the mailto fallback.
#include "ruvasto.h"
#include "support/display.h"
#include "support/support.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <unistd.h>

using testsupport::read_file;
using testsupport::wait_until;
using Args = std::vector<std::string>;

namespace {

const char* const kReport = "=== Velmora crash report ===\nSignal: SIGSEGV (Segmentation fault)\n";
const char* const kCrashLog = "12:00:00 INFO  the crashed run\n";
const char* const kSubject = "Velmora 1.0.4 (Build 1036) crash report";
const char* const kTo = "support@velmora.app";

// Arguments as the fake programs record them: each ended by a NUL.
std::string nul(const Args& args) {
    std::string out;
    for (const auto& a : args) out += a + '\0';
    return out;
}

class CrashSend : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("PATH", (tmp.mkdir("bin") + ":/usr/bin:/bin").c_str(), 1);
        setenv("HOME", tmp.path().c_str(), 1);
        setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + tmp.path() + "/no-bus").c_str(), 1);
        for (const char* sandbox : {"SNAP", "FLATPAK_ID"}) unsetenv(sandbox);
        auto note = [this](const std::string& line) {
            std::lock_guard<std::mutex> lock(m);
            logs.push_back(line);
        };
        ruvasto::install(
            {"Velmora", "1.0.4", "1036", kTo, "",
             [=](const std::string& level, const std::string& text) { note(level + " " + text); },
             [=](const std::string& uri) { note("open " + uri); }});
        ruvasto::set_report_dir(cfg = tmp.mkdir("cfg"));
        tmp.write("cfg/crash_report.txt", kReport);
        tmp.write("cfg/crash_log.txt", kCrashLog);
        log = tmp.write("cfg/Velmora.log", "12:05:00 INFO  this run\n");
        sent = {cfg + "/crash_report-sent.txt", cfg + "/crash_log-sent.txt", log};
    }

    // A mail program that records its arguments in tmp/name.args and exits with `code`.
    void fake(const std::string& name, int code = 0) {
        const std::string out = tmp.path() + "/" + name + ".args";
        const std::string script = "#!/bin/sh\nprintf '%s\\0' \"$@\" > " + out + ".part\nmv " +
                                   out + ".part " + out + "\nexit " + std::to_string(code) + "\n";
        chmod(tmp.write("bin/" + name, script).c_str(), 0755);
    }
    // What the fake `name` got ("" when it did not run within `ms`), taken away with it.
    std::string args_of(const std::string& name, int ms = 5000) {
        const std::string path = tmp.path() + "/" + name + ".args";
        wait_until(ms, [&] { return access(path.c_str(), F_OK) == 0; });
        const std::string out = read_file(path);
        unlink(path.c_str());
        return out;
    }
    bool logged(const std::string& line) {
        std::lock_guard<std::mutex> lock(m);
        return std::find(logs.begin(), logs.end(), line) != logs.end();
    }

    testsupport::TempDir tmp;
    std::string cfg, log;
    Args sent;
    std::mutex m;
    std::vector<std::string> logs; // and "open " for each URI opened
};

// send: the report and crash log move to their sent names and a thread composes the mail
// with them and the log attached, through Thunderbird when there is one.
TEST_F(CrashSend, SendMovesFilesAndThunderbirdGetsOneComposeArgument) {
    for (const char* program : {"thunderbird", "xdg-email"}) fake(program);
    ruvasto::send(log);
    EXPECT_EQ(args_of("thunderbird"),
              nul({"-compose", "to='" + std::string(kTo) + "',subject='" + kSubject +
                                   "',message='" + cfg + "/mail-body.txt',attachment='" + sent[0] +
                                   "," + sent[1] + "," + sent[2] + "'"}));
    EXPECT_EQ(read_file(cfg + "/mail-body.txt"),
              std::string("Attached: crash report and log files. The same follows as text.\n\n") +
                  kReport + "\n=== crash_log.txt (log of the crashed run) ===\n" + kCrashLog);
    EXPECT_TRUE(wait_until(
        5000, [&] { return logged("INFO Crash report: mail composed with 3 attachments"); }));
    EXPECT_EQ(args_of("xdg-email", 0), "");
}

// xdg-email gets its arguments in order, its exit status counts, a body past the kernel's
// limit for one argument is cut, and it is not tried inside Snap or Flatpak.
TEST_F(CrashSend, XdgEmailArgumentsExitStatusAndSandboxes) {
    ruvasto::Mail mail = ruvasto::prepare_mail(log), big = mail;
    big.body.append(200000, 'x');
    for (const auto& [sandbox, code, m] : {std::tuple{"", 0, &mail},
                                           {"", 0, &big},
                                           {"", 3, &mail},
                                           {"SNAP", 0, &mail},
                                           {"FLATPAK_ID", 0, &mail}}) {
        fake("xdg-email", code);
        if (*sandbox) setenv(sandbox, "velmora", 1);
        EXPECT_EQ(ruvasto::compose(*m),
                  *sandbox || code ? ruvasto::Route::Mailto : ruvasto::Route::XdgEmail);
        if (*sandbox) unsetenv(sandbox);
        const std::string body = m == &big ? ruvasto::shorten_body(big.body, 100000) : mail.body;
        EXPECT_EQ(args_of("xdg-email", *sandbox ? 0 : 5000),
                  *sandbox ? ""
                           : nul({"--utf8", "--subject", kSubject, "--body", body, "--attach",
                                  sent[0], "--attach", sent[1], "--attach", sent[2], kTo}));
        EXPECT_TRUE(*sandbox || logged("INFO xdg-email: exit " + std::to_string(code)));
    }
}

// The body is cut to 6,000 bytes with a mark, never inside a character, then encoded.
TEST_F(CrashSend, WithoutAnyRouteMailtoIsEncodedAndCutAndTheFolderOpens) {
    ruvasto::Mail mail = ruvasto::prepare_mail(log);
    mail.body += "é & ü = ?/+%\n";
    mail.body.resize(5993, '-');
    mail.body += "é & ü = ?\n" + std::string(500, '-'); // the cut at 5,994 would split the é
    EXPECT_EQ(ruvasto::compose(mail), ruvasto::Route::Mailto);
    EXPECT_TRUE(logged("open file://" + cfg));
    EXPECT_TRUE(logged("WARN Crash report: no way to attach files - opened mailto and the folder"));
    // url_encode itself is checked against a fixed text with the file tests.
    EXPECT_TRUE(logged("open mailto:support@velmora.app?subject=Velmora%201.0.4%20%28Build%201036%"
                       "29%20crash%20report&body=" +
                       ruvasto::url_encode(mail.body.substr(0, 5993) + "\n[...]")));
}

// ---- the mail portal ----------------------------------------------------------------

// A fake portal answers the version and ComposeEmail with the response `first`, and keeps
// the subject and each attached file's content in `second`.
using Portal = std::pair<guint32, Args>;

void on_compose(GDBusConnection* c, const gchar* sender, const gchar*, const gchar*, const gchar*,
                GVariant* params, GDBusMethodInvocation* inv, gpointer data) {
    auto* portal = static_cast<Portal*>(data);
    GUnixFDList* fds = g_dbus_message_get_unix_fd_list(g_dbus_method_invocation_get_message(inv));
    GVariant* opts = g_variant_get_child_value(params, 1);
    const gchar *token = "", *subject = "";
    g_variant_lookup(opts, "handle_token", "&s", &token);
    g_variant_lookup(opts, "subject", "&s", &subject);
    portal->second = {subject};
    gint n = 0;
    const gint* fd = fds ? g_unix_fd_list_peek_fds(fds, &n) : nullptr;
    for (gint i = 0; i < n; ++i)
        portal->second.push_back(read_file("/proc/self/fd/" + std::to_string(fd[i])));
    std::string who = sender + 1;
    std::replace(who.begin(), who.end(), '.', '_');
    const std::string request = "/org/freedesktop/portal/desktop/request/" + who + "/" + token;
    g_variant_unref(opts);
    g_dbus_method_invocation_return_value(inv, g_variant_new("(o)", request.c_str()));
    g_dbus_connection_emit_signal(
        c, sender, request.c_str(), "org.freedesktop.portal.Request", "Response",
        g_variant_new("(u@a{sv})", portal->first,
                      g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0)),
        nullptr);
}

// Serves `portal` on a connection of its own, dispatched on this thread's default context.
GDBusConnection* serve(const std::string& address, Portal* portal) {
    GDBusConnection* conn = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(
        "<node><interface name='org.freedesktop.portal.Email'><method name='ComposeEmail'><arg "
        "type='s'/><arg type='a{sv}'/><arg type='o' direction='out'/></method><property "
        "name='version' type='u' access='read'/></interface></node>",
        nullptr);
    static const GDBusInterfaceVTable vtable = {
        on_compose, [](auto...) { return g_variant_new_uint32(4); }, nullptr, {}};
    g_dbus_connection_register_object(conn, "/org/freedesktop/portal/desktop", node->interfaces[0],
                                      &vtable, portal, nullptr, nullptr);
    g_dbus_node_info_unref(node);
    // Allow and take replacement: the portal of an earlier round may still own the name.
    GVariant* r = g_dbus_connection_call_sync(
        conn, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "RequestName", g_variant_new("(su)", "org.freedesktop.portal.Desktop", 3u),
        G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    if (r) g_variant_unref(r);
    return conn;
}

TEST_F(CrashSend, MailPortalReceivesTheDescriptorsAndResponseZeroSucceeds) {
    const std::string out = testsupport::capture(
        "dbus-daemon --session --fork --print-address=1 --print-pid=1 2>/dev/null");
    const size_t nl = out.find('\n');
    if (nl == std::string::npos) GTEST_SKIP() << "dbus-daemon could not start a private bus";
    setenv("DBUS_SESSION_BUS_ADDRESS", out.substr(0, nl).c_str(), 1);
    fake("xdg-email");
    const ruvasto::Mail mail = ruvasto::prepare_mail(log);
    // Through compose the portal is the second route: a refusal falls through to xdg-email.
    for (guint32 answer : {0u, 1u}) {
        Portal portal{answer, {}};
        GDBusConnection* conn = serve(out.substr(0, nl), &portal);
        std::atomic<int> route = -1;
        std::thread sender([&] { route = int(ruvasto::compose(mail, 5000)); });
        while (route < 0)
            if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(1000);
        sender.join();
        EXPECT_EQ(route, int(answer ? ruvasto::Route::XdgEmail : ruvasto::Route::Portal));
        EXPECT_EQ(portal.second, (Args{kSubject, kReport, kCrashLog, read_file(log)}));
        EXPECT_TRUE(logged("INFO Mail portal v4: response " + std::to_string(answer)));
        EXPECT_EQ(args_of("xdg-email", 0).empty(), answer == 0);
        g_dbus_connection_close_sync(conn, nullptr, nullptr);
        g_object_unref(conn);
    }
    kill(static_cast<pid_t>(std::stol(out.substr(nl + 1))), SIGTERM);
}

} // namespace
