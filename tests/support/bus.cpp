#include "bus.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <future>
#include <gio/gio.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

namespace {

constexpr const char* kConfig = R"(<!DOCTYPE busconfig PUBLIC
 "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=@DIR@</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

constexpr const char* kXml = R"(<node>
 <interface name="org.freedesktop.Notifications">
  <method name="Notify">
   <arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="s" direction="in"/>
   <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="as" direction="in"/>
   <arg type="a{sv}" direction="in"/><arg type="i" direction="in"/><arg type="u" direction="out"/>
  </method>
 </interface>
 <interface name="org.freedesktop.portal.FileChooser">
  <method name="SaveFile">
   <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="a{sv}" direction="in"/>
   <arg type="o" direction="out"/>
  </method>
 </interface>
 <interface name="org.freedesktop.FileManager1">
  <method name="ShowItems"><arg type="as" direction="in"/><arg type="s" direction="in"/></method>
 </interface>
</node>)";

void on_call(GDBusConnection* conn, const gchar* sender, const gchar*, const gchar* iface,
             const gchar* method, GVariant* params, GDBusMethodInvocation* inv, gpointer data) {
    auto* fake = static_cast<FakeDesktop*>(data);
    const std::string m = method;
    if (m == "Notify") {
        const gchar *summary = nullptr, *body = nullptr;
        g_variant_get_child(params, 3, "&s", &summary);
        g_variant_get_child(params, 4, "&s", &body);
        fake->record(std::string("Notify ") + summary + "|" + body);
        g_dbus_method_invocation_return_value(inv, g_variant_new("(u)", 7u));
    } else if (m == "SaveFile") {
        GVariant* opts = g_variant_get_child_value(params, 2);
        const gchar *token = "t", *name = "";
        g_variant_lookup(opts, "handle_token", "&s", &token);
        g_variant_lookup(opts, "current_name", "&s", &name);
        fake->record(std::string("SaveFile ") + name);
        std::string who = sender + 1;
        for (char& c : who)
            if (c == '.') c = '_';
        const std::string handle = "/org/freedesktop/portal/desktop/request/" + who + "/" + token;
        g_variant_unref(opts);
        g_dbus_method_invocation_return_value(inv, g_variant_new("(o)", handle.c_str()));
        GVariantBuilder res;
        g_variant_builder_init(&res, G_VARIANT_TYPE("a{sv}"));
        const auto& o = fake->options();
        if (o.response == 0) {
            gchar* uri = g_filename_to_uri(o.chosen_path.c_str(), nullptr, nullptr);
            const gchar* uris[] = {uri, nullptr};
            g_variant_builder_add(&res, "{sv}", "uris", g_variant_new_strv(uris, 1));
            g_free(uri);
        }
        g_dbus_connection_emit_signal(
            conn, sender, handle.c_str(), "org.freedesktop.portal.Request", "Response",
            g_variant_new("(ua{sv})", static_cast<guint32>(o.response), &res), nullptr);
    } else if (m == "ShowItems") {
        const gchar** uris = nullptr;
        g_variant_get_child(params, 0, "^a&s", &uris);
        fake->record(std::string("ShowItems ") + (uris && uris[0] ? uris[0] : ""));
        g_free(uris);
        g_dbus_method_invocation_return_value(inv, nullptr);
    } else {
        g_dbus_method_invocation_return_error(inv, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD, "%s",
                                              iface);
    }
}

} // namespace

PrivateBus::PrivateBus() {
    const std::string daemon = find_program("dbus-daemon");
    if (daemon.empty()) {
        m_why = "dbus-daemon is not installed";
        return;
    }
    std::string config = kConfig;
    config.replace(config.find("@DIR@"), 5, m_dir.path());
    const std::string conf = m_dir.write("bus.conf", config);
    const std::string out = m_dir.path() + "/address";
    const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    m_pid = spawn(daemon, {"--config-file=" + conf, "--nofork", "--print-address=1"}, {}, fd, 2);
    close(fd);
    for (int i = 0; i < 300 && m_address.empty(); ++i) {
        const std::string text = read_file(out);
        if (text.find('\n') != std::string::npos)
            m_address = text.substr(0, text.find('\n'));
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (m_address.empty())
        m_why = "the private dbus-daemon did not start";
    else
        setenv("DBUS_SESSION_BUS_ADDRESS", m_address.c_str(), 1);
}

PrivateBus::~PrivateBus() {
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
    }
}

FakeDesktop::FakeDesktop(const std::string& address, Options options) : m_opt(std::move(options)) {
    std::promise<void> ready;
    m_thread = std::thread([this, address, &ready] {
        GMainContext* ctx = g_main_context_new();
        g_main_context_push_thread_default(ctx);
        GMainLoop* loop = g_main_loop_new(ctx, FALSE);
        m_loop = loop;
        GDBusConnection* conn = g_dbus_connection_new_for_address_sync(
            address.c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
        GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kXml, nullptr);
        static const GDBusInterfaceVTable vtable = {on_call, nullptr, nullptr, {}};
        struct Service {
            bool on;
            const char *name, *path;
            int iface;
        } services[] = {
            {m_opt.notifications, "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
             0},
            {m_opt.portal, "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop", 1},
            {m_opt.file_manager, "org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
             2},
        };
        for (const Service& s : services) {
            if (!s.on || !conn) continue;
            g_dbus_connection_register_object(conn, s.path, node->interfaces[s.iface], &vtable,
                                              this, nullptr, nullptr);
            GVariant* r = g_dbus_connection_call_sync(
                conn, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                "RequestName", g_variant_new("(su)", s.name, 4u), nullptr, G_DBUS_CALL_FLAGS_NONE,
                -1, nullptr, nullptr);
            if (r) g_variant_unref(r);
        }
        ready.set_value();
        g_main_loop_run(loop);
        g_dbus_node_info_unref(node);
        if (conn) {
            g_dbus_connection_close_sync(conn, nullptr, nullptr);
            g_object_unref(conn);
        }
        g_main_loop_unref(loop);
        g_main_context_pop_thread_default(ctx);
        g_main_context_unref(ctx);
    });
    ready.get_future().wait();
}

FakeDesktop::~FakeDesktop() {
    // Through the loop's own context, so that a loop not yet running still ends.
    auto* loop = static_cast<GMainLoop*>(m_loop);
    g_main_context_invoke(
        g_main_loop_get_context(loop),
        [](gpointer l) {
            g_main_loop_quit(static_cast<GMainLoop*>(l));
            return G_SOURCE_REMOVE;
        },
        loop);
    m_thread.join();
}

std::vector<std::string> FakeDesktop::calls() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
}

void FakeDesktop::record(std::string call) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.push_back(std::move(call));
}

bool pump_until(const std::function<bool()>& done, int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

} // namespace testsupport
