// Sending a crash report: the mail, each route with fake mail programs on PATH, the mail
// portal against a fake portal on a private session bus, and the mailto fallback.
#include "ruvasto.h"
#include "support/display.h"
#include "support/support.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

using testsupport::read_file;
using testsupport::wait_until;

namespace {

bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::string url_decode(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size()) {
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

const char* const kReport = "=== Velmora crash report ===\nSignal: SIGSEGV (Segmentation fault)\n";
const char* const kCrashLog = "12:00:00 INFO  the crashed run\n";
const char* const kSubject = "Velmora 1.0.4 (Build 1036) crash report";

class CrashSend : public ::testing::Test {
protected:
    void SetUp() override {
        bin = tmp.mkdir("bin");
        cfg = tmp.mkdir("cfg");
        setenv("PATH", (bin + ":/usr/bin:/bin").c_str(), 1);
        setenv("HOME", tmp.path().c_str(), 1);
        setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + tmp.path() + "/no-bus").c_str(), 1);
        unsetenv("SNAP");
        unsetenv("FLATPAK_ID");
        ruvasto::App app;
        app.name = "Velmora";
        app.version = "1.0.4";
        app.build = "1036";
        app.contact = "support@velmora.app";
        app.log = [this](const std::string& level, const std::string& msg) {
            std::lock_guard<std::mutex> lock(m);
            logs.push_back(level + " " + msg);
        };
        app.open_uri = [this](const std::string& uri) {
            std::lock_guard<std::mutex> lock(m);
            uris.push_back(uri);
        };
        ruvasto::install(app);
        ruvasto::set_report_dir(cfg);
        tmp.write("cfg/crash_report.txt", kReport);
        tmp.write("cfg/crash_log.txt", kCrashLog);
        log = tmp.write("cfg/Velmora.log", "12:05:00 INFO  this run\n");
    }

    // A mail program that records its arguments (each ended by a NUL) and exits with `code`.
    void fake(const std::string& name, int code = 0) {
        const std::string out = bin + "/" + name + ".args";
        tmp.write("bin/" + name, "#!/bin/sh\nprintf '%s\\0' \"$@\" > " + out + ".part\nmv " + out +
                                     ".part " + out + "\nexit " + std::to_string(code) + "\n");
        chmod((bin + "/" + name).c_str(), 0755);
    }

    std::vector<std::string> args_of(const std::string& name) {
        const std::string path = bin + "/" + name + ".args";
        wait_until(5000, [&] { return exists(path); });
        std::vector<std::string> out;
        std::string all = read_file(path), cur;
        for (char c : all) {
            if (c)
                cur += c;
            else
                out.push_back(std::exchange(cur, ""));
        }
        return out;
    }

    bool logged(const std::string& line) {
        std::lock_guard<std::mutex> lock(m);
        return std::find(logs.begin(), logs.end(), line) != logs.end();
    }

    std::vector<std::string> sent() const {
        return {cfg + "/crash_report-sent.txt", cfg + "/crash_log-sent.txt", log};
    }

    testsupport::TempDir tmp;
    std::string bin, cfg, log;
    std::mutex m;
    std::vector<std::string> logs, uris;
};

TEST_F(CrashSend, MailCarriesTheReportAndCrashLogAndMovesThemToSentNames) {
    const ruvasto::Mail mail = ruvasto::prepare_mail(log);
    EXPECT_EQ(mail.to, "support@velmora.app");
    EXPECT_EQ(mail.subject, kSubject);
    EXPECT_EQ(mail.body, std::string("Attached: crash report and log files. The same follows as "
                                     "text.\n\n") +
                             kReport + "\n=== crash_log.txt (log of the crashed run) ===\n" +
                             kCrashLog);
    EXPECT_EQ(mail.attachments, sent());
    EXPECT_FALSE(exists(cfg + "/crash_report.txt"));
    EXPECT_EQ(read_file(cfg + "/crash_log-sent.txt"), kCrashLog);
    std::string text;
    EXPECT_FALSE(ruvasto::pending(text)) << "a sent report is no longer pending";
}

TEST_F(CrashSend, ThunderbirdGetsOneComposeArgumentAndTheBodyFile) {
    fake("thunderbird");
    fake("xdg-email");
    const ruvasto::Mail mail = ruvasto::prepare_mail(log);
    EXPECT_EQ(ruvasto::compose(mail), ruvasto::Route::Thunderbird);
    const auto args = args_of("thunderbird");
    ASSERT_EQ(args.size(), 2u);
    EXPECT_EQ(args[0], "-compose");
    EXPECT_EQ(args[1], "to='support@velmora.app',subject='" + std::string(kSubject) +
                           "',message='" + cfg + "/mail-body.txt',attachment='" + sent()[0] + "," +
                           sent()[1] + "," + sent()[2] + "'");
    EXPECT_EQ(read_file(cfg + "/mail-body.txt"), mail.body);
    EXPECT_FALSE(exists(bin + "/xdg-email.args"));
    EXPECT_TRUE(logged("INFO Crash report: mail composed with 3 attachments"));
}

TEST_F(CrashSend, XdgEmailGetsItsArgumentsInOrderAndItsExitStatusCounts) {
    fake("xdg-email");
    const ruvasto::Mail mail = ruvasto::prepare_mail(log);
    EXPECT_EQ(ruvasto::compose(mail), ruvasto::Route::XdgEmail);
    EXPECT_EQ(args_of("xdg-email"),
              (std::vector<std::string>{"--utf8", "--subject", kSubject, "--body", mail.body,
                                        "--attach", sent()[0], "--attach", sent()[1], "--attach",
                                        sent()[2], "support@velmora.app"}));
    EXPECT_TRUE(logged("INFO xdg-email: exit 0"));

    // A body past the kernel's limit for one argument is cut rather than losing the files.
    ruvasto::Mail big = mail;
    big.body.append(200000, 'x');
    EXPECT_EQ(ruvasto::compose(big), ruvasto::Route::XdgEmail);
    EXPECT_EQ(args_of("xdg-email")[4], ruvasto::shorten_body(big.body, 100000));

    fake("xdg-email", 3);
    EXPECT_EQ(ruvasto::compose(mail), ruvasto::Route::Mailto);
    EXPECT_TRUE(logged("INFO xdg-email: exit 3"));
}

TEST_F(CrashSend, XdgEmailIsNotTriedInsideSnapOrFlatpak) {
    fake("xdg-email");
    const ruvasto::Mail mail = ruvasto::prepare_mail(log);
    for (const char* var : {"SNAP", "FLATPAK_ID"}) {
        setenv(var, "velmora", 1);
        EXPECT_EQ(ruvasto::compose(mail), ruvasto::Route::Mailto) << var;
        unsetenv(var);
    }
    EXPECT_FALSE(exists(bin + "/xdg-email.args"));
}

TEST_F(CrashSend, WithoutAnyRouteMailtoIsEncodedAndCutAndTheFolderOpens) {
    ruvasto::Mail mail = ruvasto::prepare_mail(log);
    for (int i = 0; i < 300; ++i)
        mail.body += "12:00:0" + std::to_string(i % 10) + " INFO  é & ü = ?\n";
    EXPECT_EQ(ruvasto::compose(mail), ruvasto::Route::Mailto);
    ASSERT_EQ(uris.size(), 2u);
    const std::string head = "mailto:support@velmora.app?subject=Velmora%201.0.4%20%28Build%201036%"
                             "29%20crash%20report&body=";
    ASSERT_EQ(uris[0].rfind(head, 0), 0u) << uris[0].substr(0, 120);
    const std::string encoded = uris[0].substr(head.size());
    EXPECT_EQ(encoded.find_first_not_of(
                  "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~%"),
              std::string::npos);
    const std::string body = url_decode(encoded);
    EXPECT_LE(body.size(), 6000u);
    EXPECT_GT(body.size(), 5980u);
    EXPECT_EQ(body.substr(body.size() - 6), "\n[...]");
    EXPECT_EQ(mail.body.compare(0, body.size() - 6, body, 0, body.size() - 6), 0);
    EXPECT_EQ(uris[1], "file://" + cfg);
    EXPECT_TRUE(logged("WARN Crash report: no way to attach files - opened mailto and the folder"));
}

TEST(CrashMail, BodyIsCutAtTheLimitWithAMark) {
    struct Case {
        std::string body, want;
    };
    const Case cases[] = {
        {"short\n", "short\n"},
        {std::string(10, 'a'), std::string(10, 'a')},
        {std::string(4, 'a') + "\n" + std::string(20, 'b'), "aaaa\n[...]"},
        {std::string(20, 'a'), "aaaa\n[...]"},
        {"aaa\xC3\xA9" + std::string(20, 'b'), "aaa\n[...]"}, // no half character
    };
    for (const auto& c : cases) EXPECT_EQ(ruvasto::shorten_body(c.body, 10), c.want) << c.body;
}

TEST_F(CrashSend, SendComposesOnItsOwnThread) {
    fake("xdg-email");
    ruvasto::send(log);
    for (const auto& f : sent()) EXPECT_TRUE(exists(f)) << f;
    EXPECT_EQ(args_of("xdg-email").size(), 12u);
    EXPECT_TRUE(wait_until(
        5000, [&] { return logged("INFO Crash report: mail composed with 3 attachments"); }));
}

// ---- the mail portal ----------------------------------------------------------------

// A portal with its own connection, served on its own thread: answers the version and
// ComposeEmail, keeps what arrived and sends the response `answer`.
struct FakePortal {
    FakePortal(const std::string& address, guint32 answer) : answer(answer) {
        ctx = g_main_context_new();
        g_main_context_push_thread_default(ctx); // calls are dispatched on this context
        conn = g_dbus_connection_new_for_address_sync(
            address.c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
        GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(
            "<node><interface name='org.freedesktop.portal.Email'>"
            "<method name='ComposeEmail'><arg type='s' direction='in'/>"
            "<arg type='a{sv}' direction='in'/><arg type='o' direction='out'/></method>"
            "<property name='version' type='u' access='read'/></interface></node>",
            nullptr);
        static const GDBusInterfaceVTable vtable = {on_call, on_get, nullptr, {}};
        g_dbus_connection_register_object(conn, "/org/freedesktop/portal/desktop",
                                          node->interfaces[0], &vtable, this, nullptr, nullptr);
        g_dbus_node_info_unref(node);
        // Allow and take replacement: the portal of an earlier round may still own the name.
        GVariant* r = g_dbus_connection_call_sync(
            conn, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "RequestName", g_variant_new("(su)", "org.freedesktop.portal.Desktop", 3u),
            G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
        guint32 owner = 0;
        if (r) {
            g_variant_get(r, "(u)", &owner);
            g_variant_unref(r);
        }
        serving = owner == 1;
        g_main_context_pop_thread_default(ctx);
        loop = g_main_loop_new(ctx, FALSE);
        thread = std::thread([this] {
            g_main_context_push_thread_default(ctx);
            g_main_loop_run(loop);
            g_main_context_pop_thread_default(ctx);
        });
    }

    ~FakePortal() {
        g_main_loop_quit(loop);
        thread.join();
        g_dbus_connection_close_sync(conn, nullptr, nullptr);
        g_object_unref(conn);
        g_main_loop_unref(loop);
        g_main_context_unref(ctx);
    }

    static GVariant* on_get(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                            const gchar*, GError**, gpointer) {
        return g_variant_new_uint32(4);
    }

    static void on_call(GDBusConnection* c, const gchar* sender, const gchar*, const gchar*,
                        const gchar*, GVariant* params, GDBusMethodInvocation* inv, gpointer data) {
        auto* self = static_cast<FakePortal*>(data);
        GUnixFDList* fds =
            g_dbus_message_get_unix_fd_list(g_dbus_method_invocation_get_message(inv));
        GVariant* opts = g_variant_get_child_value(params, 1);
        const gchar *token = "", *subject = "";
        g_variant_lookup(opts, "handle_token", "&s", &token);
        g_variant_lookup(opts, "subject", "&s", &subject);
        GVariant* handles = g_variant_lookup_value(opts, "attachment_fds", G_VARIANT_TYPE("ah"));
        std::lock_guard<std::mutex> lock(self->m);
        self->files.clear();
        for (gsize i = 0; handles && i < g_variant_n_children(handles); ++i) {
            gint32 h = 0;
            g_variant_get_child(handles, i, "h", &h);
            int fd = fds ? g_unix_fd_list_get(fds, h, nullptr) : -1;
            self->files.push_back(fd < 0 ? "(no descriptor)"
                                         : read_file("/proc/self/fd/" + std::to_string(fd)));
            if (fd >= 0) close(fd);
        }
        self->subject = subject;
        std::string who = sender + 1;
        std::replace(who.begin(), who.end(), '.', '_');
        self->request = "/org/freedesktop/portal/desktop/request/" + who + "/" + token;
        if (handles) g_variant_unref(handles);
        g_variant_unref(opts);
        g_dbus_method_invocation_return_value(inv, g_variant_new("(o)", self->request.c_str()));
        g_dbus_connection_emit_signal(
            c, sender, self->request.c_str(), "org.freedesktop.portal.Request", "Response",
            g_variant_new("(u@a{sv})", self->answer,
                          g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0)),
            nullptr);
    }

    guint32 answer;
    bool serving = false;
    GMainContext* ctx;
    GMainLoop* loop;
    GDBusConnection* conn;
    std::thread thread;
    std::mutex m;
    std::vector<std::string> files;
    std::string subject, request;
};

TEST_F(CrashSend, MailPortalReceivesTheDescriptorsAndResponseZeroSucceeds) {
    const std::string out = testsupport::capture(
        "dbus-daemon --session --fork --print-address=1 --print-pid=1 2>/dev/null");
    const size_t nl = out.find('\n');
    if (nl == std::string::npos) GTEST_SKIP() << "dbus-daemon could not start a private bus";
    const std::string address = out.substr(0, nl);
    const pid_t daemon = static_cast<pid_t>(std::stol(out.substr(nl + 1)));
    setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);

    const ruvasto::Mail mail = ruvasto::prepare_mail(log);
    for (guint32 answer : {0u, 1u}) {
        FakePortal portal(address, answer);
        ASSERT_TRUE(portal.serving);
        EXPECT_EQ(ruvasto::mail_portal(mail, 5000), answer == 0) << answer;
        std::lock_guard<std::mutex> lock(portal.m);
        EXPECT_EQ(portal.files, (std::vector<std::string>{kReport, kCrashLog, read_file(log)}));
        EXPECT_EQ(portal.subject, kSubject);
        EXPECT_NE(portal.request.find("/request/"), std::string::npos);
        EXPECT_TRUE(logged("INFO Mail portal v4: response " + std::to_string(answer)));
    }
    // Through compose, the portal is the second route, before xdg-email.
    fake("xdg-email");
    {
        FakePortal portal(address, 0);
        EXPECT_EQ(ruvasto::compose(mail, 5000), ruvasto::Route::Portal);
    }
    EXPECT_FALSE(exists(bin + "/xdg-email.args"));
    kill(daemon, SIGTERM);
}

} // namespace
