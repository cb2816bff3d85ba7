// Reply datagrams of a socket-diagnostics dump: the message walk, the fixed socket part and
// the attribute walk with its tcp_info block. The first byte picks the request's family
// and protocol, the rest is one datagram.
#include "net_procs.h"

#include <netinet/in.h>
#include <sys/socket.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static const std::unordered_set<std::string> own = {"192.0.2.1", "2001:db8::1"};
    procs::DumpContext ctx;
    ctx.family = (data[0] & 1) ? AF_INET6 : AF_INET;
    ctx.proto = (data[0] & 2) ? IPPROTO_UDP : IPPROTO_TCP;
    ctx.own = (data[0] & 4) ? &own : nullptr;
    std::vector<procs::Conn> conns;
    procs::walk_dump(data + 1, size - 1, ctx, &conns);
    for (const auto& c : conns) {
        // The texts must be complete addresses, never garbage from past the message.
        if (c.local_ip.size() > 45 || c.remote_ip.size() > 45) __builtin_trap();
        if (c.loopback && c.listening) __builtin_trap();
    }
    return 0;
}
