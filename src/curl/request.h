#pragma once

#include <chrono>
#include <string>
#include <utility>

#include "curl/header_list.h"

namespace curl {

// The whole-transfer limit of a cloud request.
inline constexpr std::chrono::seconds kRequestTimeout{30};

// (response text, status). The status is the HTTP status (100 and above) or, when the
// transfer failed, libcurl's error code (below 100; 6 host not resolved, 7 connection
// failed, 28 timed out) with the exception's what() text in place of the body.
using response = std::pair<std::string, long>;

// One request with the options every cloud call uses, in this order: the header list,
// the method as a custom request, the URL, no TLS peer or host verification, the body
// (POST only, sent as is), the time-out, no signals, a DNS cache of 7200 s.
// `body` is null for a request without one. No libcurl failure escapes.
response perform_request(const char* method, const char* url, const header_list& headers, const char* body,
                         std::chrono::seconds timeout = kRequestTimeout);

}  // namespace curl
