// Wireless link data (network name, frequency, signal, bit rates) over nl80211, with the
// legacy /proc/net/wireless table as the fallback for the signal.
#pragma once

#include "net_stats.h"

#include <string>

namespace wifi {

// Fills ssid, freq_mhz, signal_dbm, tx_bitrate_kbps and rx_bitrate_kbps as far as the
// kernel reports them. `root` prefixes the /proc fallback file (tests only).
void query(net::Interface& iface, const std::string& root = "");

} // namespace wifi
