#pragma once

#include "cloud/cloud_state.h"
#include "cloud/net.h"

namespace sim_cloud {

// The record of a parsed request: request line, header lines as received, body.
RecordedRequest Record(const HttpRequest& request);

}  // namespace sim_cloud
