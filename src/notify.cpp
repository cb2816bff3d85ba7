#include "notify.h"

#include "logger.h"

#include <gio/gio.h>
#include <memory>
#include <vector>

namespace notify {

namespace {

constexpr int kCallTimeoutMs = 5000;

GDBusConnection* session_bus() {
    GError* err = nullptr;
    gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &err);
    if (!address) {
        g_clear_error(&err);
        return nullptr;
    }
    GDBusConnection* conn = g_dbus_connection_new_for_address_sync(
        address,
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &err);
    g_free(address);
    g_clear_error(&err);
    return conn;
}

struct Pending {
    GDBusConnection* conn = nullptr;
    guint sub = 0;
    std::function<void(int, const std::string&)> done;
};

std::vector<std::unique_ptr<Pending>> g_pending;

void drop(Pending* p) {
    g_dbus_connection_signal_unsubscribe(p->conn, p->sub);
    g_object_unref(p->conn);
    std::erase_if(g_pending, [p](const auto& q) { return q.get() == p; });
}

void on_response(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                 GVariant* params, gpointer data) {
    auto* p = static_cast<Pending*>(data);
    guint32 code = kFailed;
    GVariant* results = nullptr;
    if (g_variant_is_of_type(params, G_VARIANT_TYPE("(ua{sv})")))
        g_variant_get(params, "(u@a{sv})", &code, &results);
    std::string path;
    if (code == kChosen && results) {
        const gchar** uris = nullptr;
        if (g_variant_lookup(results, "uris", "^a&s", &uris) && uris && uris[0]) {
            if (gchar* file = g_filename_from_uri(uris[0], nullptr, nullptr)) {
                path = file;
                g_free(file);
            }
        }
        g_free(uris);
        // A chosen file that is not a local path cannot be written here.
        if (path.empty()) code = kFailed;
    }
    if (results) g_variant_unref(results);
    auto done = std::move(p->done);
    drop(p); // before the call back, which may start another dialog
    if (done) done(code > kFailed ? static_cast<int>(kFailed) : static_cast<int>(code), path);
}

guint subscribe(GDBusConnection* conn, const std::string& handle, Pending* p) {
    return g_dbus_connection_signal_subscribe(conn, nullptr, "org.freedesktop.portal.Request",
                                              "Response", handle.c_str(), nullptr,
                                              G_DBUS_SIGNAL_FLAGS_NONE, on_response, p, nullptr);
}

} // namespace

bool send(const std::string& summary, const std::string& body, bool urgent) {
    GDBusConnection* conn = session_bus();
    if (!conn) return false;
    GVariantBuilder hints;
    g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&hints, "{sv}", "urgency", g_variant_new_byte(urgent ? 2 : 1));
    g_variant_builder_add(&hints, "{sv}", "desktop-entry", g_variant_new_string("velmora"));
    GError* err = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        conn, "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
        "org.freedesktop.Notifications", "Notify",
        g_variant_new("(susssasa{sv}i)", "Velmora", 0u, "velmora", summary.c_str(), body.c_str(),
                      nullptr, &hints, -1),
        G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, &err);
    if (!reply) {
        logger::warn(std::string("desktop notification failed: ") + (err ? err->message : "?"));
        g_clear_error(&err);
    } else {
        g_variant_unref(reply);
    }
    g_object_unref(conn);
    return reply != nullptr;
}

bool show_file(const std::string& path) {
    GDBusConnection* conn = session_bus();
    if (!conn) return false;
    gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
    const gchar* uris[] = {uri, nullptr};
    GError* err = nullptr;
    GVariant* reply =
        uri ? g_dbus_connection_call_sync(
                  conn, "org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                  "org.freedesktop.FileManager1", "ShowItems", g_variant_new("(^ass)", uris, ""),
                  nullptr, G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, &err)
            : nullptr;
    g_clear_error(&err);
    g_free(uri);
    if (reply) g_variant_unref(reply);
    g_object_unref(conn);
    return reply != nullptr;
}

bool save_file(const std::string& title, const std::string& name,
               std::function<void(int, const std::string&)> done) {
    GDBusConnection* conn = session_bus();
    if (!conn) return false;
    static unsigned counter = 0;
    const std::string token = "velmora" + std::to_string(++counter);
    // The reply names the request object, but its answer may come before the reply does:
    // listen on the path the portal derives from our bus name and the token first.
    std::string sender = g_dbus_connection_get_unique_name(conn);
    if (!sender.empty() && sender[0] == ':') sender.erase(0, 1);
    for (char& c : sender)
        if (c == '.') c = '_';
    const std::string expected = "/org/freedesktop/portal/desktop/request/" + sender + "/" + token;

    auto pending = std::make_unique<Pending>();
    Pending* p = pending.get();
    p->conn = conn;
    p->done = std::move(done);
    p->sub = subscribe(conn, expected, p);
    g_pending.push_back(std::move(pending));

    GVariantBuilder opts;
    g_variant_builder_init(&opts, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&opts, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    g_variant_builder_add(&opts, "{sv}", "current_name", g_variant_new_string(name.c_str()));
    g_variant_builder_add(&opts, "{sv}", "modal", g_variant_new_boolean(TRUE));
    GError* err = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        conn, "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
        "org.freedesktop.portal.FileChooser", "SaveFile",
        g_variant_new("(ssa{sv})", "", title.c_str(), &opts), G_VARIANT_TYPE("(o)"),
        G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, &err);
    if (!reply) {
        logger::info(std::string("no file-chooser portal: ") + (err ? err->message : "?"));
        g_clear_error(&err);
        p->done = nullptr;
        drop(p);
        return false;
    }
    const gchar* handle = nullptr;
    g_variant_get(reply, "(&o)", &handle);
    // Older portals ignore the token and pick a path of their own.
    if (handle && expected != handle) {
        g_dbus_connection_signal_unsubscribe(conn, p->sub);
        p->sub = subscribe(conn, handle, p);
    }
    g_variant_unref(reply);
    return true;
}

void forget_pending() {
    while (!g_pending.empty()) {
        g_pending.back()->done = nullptr;
        drop(g_pending.back().get());
    }
}

} // namespace notify
