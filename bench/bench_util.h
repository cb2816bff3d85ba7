// Helpers shared by the benchmark programs: a private network namespace with a chosen
// number of veth devices (root only).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <sched.h>
#include <string>
#include <sys/mount.h>

namespace benchutil {

// Enters a fresh network and mount namespace holding `veth_count` veth devices (pairs,
// all up) and lo. Returns false (with a message on stderr) when that is impossible.
inline bool fresh_netns_with_veths(int veth_count) {
    if (unshare(CLONE_NEWNET | CLONE_NEWNS) != 0) {
        perror("unshare (benchmarks with devices need root)");
        return false;
    }
    mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr);
    if (mount("sysfs", "/sys", "sysfs", 0, nullptr) != 0) {
        perror("mount sysfs");
        return false;
    }
    char path[] = "/tmp/velmora-bench-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) return false;
    FILE* f = fdopen(fd, "w");
    fprintf(f, "link set lo up\n");
    for (int i = 0; i + 1 < veth_count + 1; i += 2) {
        fprintf(f, "link add veth%d type veth peer name veth%d\n", i, i + 1);
        fprintf(f, "link set veth%d up\nlink set veth%d up\n", i, i + 1);
    }
    fclose(f);
    std::string cmd = std::string("ip -batch ") + path + " >/dev/null 2>&1";
    int rc = system(cmd.c_str());
    remove(path);
    return rc == 0;
}

} // namespace benchutil
