// Wireless link data (network name, frequency, signal, bit rates) over nl80211, with the
// legacy /proc/net/wireless table as the fallback for the signal.
#pragma once

#include "net_stats.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace wifi {

// Fills ssid, freq_mhz, signal_dbm, tx_bitrate_kbps and rx_bitrate_kbps as far as the
// kernel reports them. `root` prefixes the /proc fallback file (tests only); with a
// non-empty root nl80211 is not asked, because the live kernel's answer for the record's
// interface index would describe this machine rather than the tree.
void query(net::Interface& iface, const std::string& root = "");

// ---- The pieces of query, separate from the socket so tests and the fuzzer can feed bytes.

// Which request a reply answers: the same attribute number means different things in the
// controller's answer and in nl80211's.
enum class Reply { Family, Interface, Station };

// Request datagrams: netlink header, generic header and one attribute.
std::vector<uint8_t> family_request(uint32_t seq);
std::vector<uint8_t> interface_request(uint16_t family, uint32_t seq, int ifindex);
std::vector<uint8_t> station_request(uint16_t family, uint32_t seq, int ifindex);

// Walks one received datagram of a reply. A family reply stores the id in `family`; the
// others update `iface`. Returns false once the reply is complete (done or error message,
// or a message that is not part of a multi-part answer); true when more may follow.
bool walk_reply(const uint8_t* data, size_t len, Reply kind, net::Interface& iface,
                uint16_t& family);

// The signal level of `ifname` in the text of /proc/net/wireless, 0 when the interface has
// no line or its level is not a plausible dBm value (-119 to -1).
int proc_wireless_signal(std::string_view text, std::string_view ifname);

// The conversation with the kernel. The real one is a generic-netlink socket; tests script
// one to check the requests and to feed replies.
class Channel {
public:
    virtual ~Channel() = default;
    // True when the whole datagram was sent.
    virtual bool send(const std::vector<uint8_t>& datagram) = 0;
    // One datagram into `buf`; its length, or 0 / -1 when nothing more arrives.
    virtual ssize_t recv(uint8_t* buf, size_t cap) = 0;
};

// Everything query does after opening the socket: family lookup (once per process),
// interface data, station dump, then the fallback for the signal.
void query_over(Channel& channel, net::Interface& iface, const std::string& root = "");

// The process-wide nl80211 family id (0 = not known yet); tests forget it to see the
// lookup again.
uint16_t cached_family();
void forget_family();

} // namespace wifi
