#include "csv_export.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace csv {

namespace {

// Appends a decimal number without a temporary string; the export writes tens of thousands.
void append_u64(std::string& out, uint64_t v) {
    char buf[24];
    char* end = buf + sizeof buf;
    char* p = end;
    do {
        *--p = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v);
    out.append(p, static_cast<size_t>(end - p));
}

void append_date(std::string& out, int day) {
    char buf[16];
    const int n =
        snprintf(buf, sizeof buf, "%04d-%02d-%02d", day / 10000, day / 100 % 100, day % 100);
    out.append(buf, static_cast<size_t>(n));
}

} // namespace

std::string field(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
    return out;
}

std::string build(const usage::Store& store) {
    std::string out = "date,device,received,sent\r\n";
    for (const std::string& name : store.interfaces()) {
        const std::string quoted = field(name);
        store.each_day(name, [&](int day, const usage::Sum& s) {
            append_date(out, day);
            out += ',';
            out += quoted;
            out += ',';
            append_u64(out, s.rx);
            out += ',';
            append_u64(out, s.tx);
            out += "\r\n";
        });
    }
    return out;
}

std::string file_name(int day) {
    std::string out = "velmora-statistics-";
    append_date(out, day);
    return out + ".csv";
}

std::string download_dir() {
    const char* dir = g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD);
    if (dir && *dir && g_file_test(dir, G_FILE_TEST_IS_DIR)) return dir;
    return g_get_home_dir();
}

std::string write_atomic(const std::string& path, const std::string& content) {
    std::string tmp = path + ".XXXXXX";
    const int fd = mkstemp(tmp.data());
    if (fd < 0) return strerror(errno);
    // mkstemp creates the file for its owner alone; an export is an ordinary document.
    fchmod(fd, 0644);
    const char* p = content.data();
    size_t left = content.size();
    int err = 0;
    while (left > 0) {
        const ssize_t n = write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            err = n < 0 ? errno : ENOSPC;
            break;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    // A full disk may only show when the data is flushed or the file closed.
    if (!err && fsync(fd) != 0) err = errno;
    if (close(fd) != 0 && !err) err = errno;
    if (!err && rename(tmp.c_str(), path.c_str()) != 0) err = errno;
    if (err) {
        unlink(tmp.c_str());
        return strerror(err);
    }
    return "";
}

} // namespace csv
