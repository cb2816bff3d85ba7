// The user's choices that survive a restart, stored as key=value lines in a sealed file.
// Unknown keys are ignored, missing keys keep their defaults and out-of-range values fall
// back to defaults, so old and damaged files always load.
#pragma once

#include "plan.h"

#include <set>
#include <string>
#include <vector>

// A window placement in logical units; all zero and false when none is known.
struct Geometry {
    int x = 0;
    int y = 0;
    int w = 0;
    int h = 0;
    bool has_pos = false;

    bool operator==(const Geometry&) const = default;
};

struct Settings {
    std::string language = "auto";
    std::string theme = "auto";
    bool bits = false;
    int interval_ms = 1000;
    int span_s = 300;
    bool show_loopback = false;
    bool show_inactive = true;
    bool show_virtual = true;
    bool resolve_names = true;
    bool show_local_conns = false;
    bool show_listening = false;
    bool group_programs = false;
    bool always_on_top = false;
    bool mini_on_top = true;
    bool mini = false;
    int tab = 0;
    std::set<std::string> hidden;
    std::set<std::string> mini_devices;
    std::set<std::string> total_on;
    std::set<std::string> total_off;
    std::string proc_sort = "rate";
    bool proc_desc = true;
    std::string conn_sort = "rx";
    bool conn_desc = true;
    std::string stats_iface = "*";
    std::string dest_sort = "rx";
    bool dest_desc = true;
    std::string cols_conn;
    std::string cols_proc;
    std::string cols_dest;
    std::string conn_filter;
    std::string proc_filter;
    std::string dest_filter;
    std::vector<std::string> card_order;
    std::string expanded;
    bool animate = true;
    Geometry full;
    Geometry compact;
    // Data plans per device ("*" for all devices) and the alerts already raised in their
    // current billing periods, kept so that a restart never repeats one.
    std::vector<plan::Plan> plans;
    std::vector<plan::Alerted> plan_alerts;
    std::string m_path;

    Settings() = default;

    // Remembers `path` for save() and applies the file when it reads back intact.
    void load(const std::string& path);

    // Writes the whole object to the path given to load(); true on success.
    bool save() const;

    // Applies the plain text of a settings file on top of the current values.
    void load_text(const std::string& text);

    // The plain text that save() seals.
    std::string to_text() const;

    bool operator==(const Settings&) const = default;
};
