#include "wifi_info.h"

namespace wifi {

// FIXME: nl80211 and the /proc/net/wireless fallback are not implemented yet; the
// wireless fields keep their initial values.
void query(net::Interface&, const std::string&) {}

} // namespace wifi
