#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include "server/server_api.h"

namespace status {

// The cloud client's figures for the operator, taken at one moment.
struct CloudFacts {
  bool authorised = false;      // a token pair is held and the server has not rejected it
  bool websocket_open = false;  // the channel connection (not the cloud client's)
  std::optional<std::chrono::system_clock::time_point> last_delivery;
  std::uint64_t pending = 0;  // reports waiting, in the buffer and the spool
  ReportCounters reports;
};

// The figures of `cloud` now; the websocket is the caller's to fill in.
CloudFacts CloudFactsOf(const ServerAPI& cloud);

}  // namespace status
