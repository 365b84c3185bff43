#pragma once

#include "cloud/cloud_state.h"
#include "cloud/net.h"

namespace sim::cloud {

// The record of a parsed request: request line, header lines as received, body, and the
// server name the client asked for in its TLS handshake (SNI).
RecordedRequest Record(const HttpRequest& request, TlsStream& stream);

}  // namespace sim::cloud
