#include "sealed_file.h"

#include "logger.h"
#include "save_crypt.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sealed {

namespace {

bool write_all(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string parent_dir(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Makes the rename itself durable. A file system that cannot sync directories answers
// EINVAL; there is nothing more to be done on it, so that counts as success.
bool sync_dir(const std::string& dir) {
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = ::fsync(fd) == 0 || errno == EINVAL;
    ::close(fd);
    return ok;
}

// False when the file cannot be opened or a read fails part-way; a file that cannot be
// read completely must not be judged (and moved aside) on what little was read.
bool read_whole(const std::string& path, std::string& data) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_size > 0) data.reserve(static_cast<size_t>(st.st_size));
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            data.clear();
            return false;
        }
        if (n == 0) break;
        data.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return true;
}

} // namespace

bool write(const std::string& path, const std::string& content) {
    // An empty path would create ".tmp" in the working directory.
    if (path.empty()) return false;
    const std::string tmp = path + ".tmp";
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;

    // Without the fsync before the rename, a power cut shortly after a save can leave the
    // new name pointing at a file whose data never reached the disk: empty or partial, and
    // the whole store is lost instead of one minute of it.
    bool ok = write_all(fd, crypt::encrypt(content)) && ::fsync(fd) == 0;
    if (::close(fd) != 0) ok = false;
    if (!ok || ::rename(tmp.c_str(), path.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return false;
    }
    // The new file is in place once the rename is done; a directory that cannot be synced
    // (or opened: write and search permission only) is not worth a failed save every minute.
    const std::string dir = parent_dir(path);
    static std::atomic_flag logged = ATOMIC_FLAG_INIT;
    if (!sync_dir(dir) && !logged.test_and_set())
        logger::warn("directory not synced after writing into it: " + dir);
    return true;
}

Result read(const std::string& path, std::string* out) {
    if (out) out->clear();
    std::string data;
    if (!read_whole(path, data) || data.empty()) return Result::Missing;
    if (crypt::decrypt(data, out) == crypt::ReadResult::Ok) return Result::Ok;

    if (out) out->clear();
    const std::string aside = path + ".manipuliert";
    if (::rename(path.c_str(), aside.c_str()) == 0) {
        logger::warn("seal broken, moved aside: " + aside);
    } else {
        logger::warn("seal broken, could not be moved aside: " + path);
    }
    return Result::Tampered;
}

} // namespace sealed
