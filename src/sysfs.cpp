#include "sysfs.h"

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sysfs {

bool read_into(const std::string& path, std::string& out, size_t limit) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char buf[65536];
    size_t got = 0;
    while (got < limit) {
        ssize_t n = ::read(fd, buf, std::min(sizeof buf, limit - got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        out.append(buf, static_cast<size_t>(n));
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    return true;
}

std::string read_file(const std::string& path, size_t limit) {
    std::string out;
    read_into(path, out, limit);
    return out;
}

std::string first_line(const std::string& path) {
    // sysfs attributes are at most a page and arrive in one read; the loop covers
    // ordinary files whose first line is longer than one buffer.
    std::string out;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return out;
    char buf[4096];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        const char* nl = static_cast<const char*>(memchr(buf, '\n', static_cast<size_t>(n)));
        if (nl) {
            out.append(buf, static_cast<size_t>(nl - buf));
            break;
        }
        out.append(buf, static_cast<size_t>(n));
        if (out.size() > (1u << 20)) break;
    }
    ::close(fd);
    return out;
}

std::vector<std::string> list_dir(const std::string& path) {
    std::vector<std::string> out;
    DIR* d = ::opendir(path.c_str());
    if (!d) return out;
    while (dirent* e = ::readdir(d)) {
        if (e->d_name[0] == '.') continue;
        out.emplace_back(e->d_name);
    }
    ::closedir(d);
    std::sort(out.begin(), out.end());
    return out;
}

std::string link_target(const std::string& path) {
    char buf[1024];
    ssize_t n = ::readlink(path.c_str(), buf, sizeof buf - 1);
    if (n <= 0) return {};
    return std::string(buf, static_cast<size_t>(n));
}

std::string basename_of(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

bool is_dir(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<std::string> split_ws(const std::string& text) {
    std::vector<std::string> out;
    size_t i = 0, n = text.size();
    while (i < n) {
        while (i < n && isspace(static_cast<unsigned char>(text[i]))) ++i;
        size_t start = i;
        while (i < n && !isspace(static_cast<unsigned char>(text[i]))) ++i;
        if (i > start) out.emplace_back(text, start, i - start);
    }
    return out;
}

} // namespace sysfs
