// /proc/<pid>/stat lines and the command lines that complete a truncated name. The input
// is a stat line, optionally followed by a NUL-NUL separator and cmdline content.
#include "net_procs.h"

#include <cstring>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view in(reinterpret_cast<const char*>(data), size);
    const size_t sep = in.find(std::string_view("\0\0", 2));
    const std::string_view line = in.substr(0, sep);
    const std::string_view cmd = sep == std::string_view::npos ? "" : in.substr(sep + 2);

    std::string name;
    uint64_t start = 0;
    procs::parse_stat(line, &name, &start);
    if (name.size() > line.size()) __builtin_trap();
    std::string cmdline;
    procs::apply_cmdline(cmd, &name, &cmdline);
    if (cmdline.size() > cmd.size() || memchr(cmdline.data(), 0, cmdline.size())) __builtin_trap();
    procs::socket_inode(line);
    return 0;
}
