#pragma once

#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <utility>

#include "curl/header_list.h"

namespace curl {

class curl_easy;

// The whole-transfer limit of a cloud request.
inline constexpr std::chrono::seconds kRequestTimeout{30};

// (response text, status). The status is the HTTP status (100 and above) or, when the
// transfer failed, libcurl's error code (below 100; 6 host not resolved, 7 connection
// failed, 28 timed out) with the exception's what() text in place of the body.
using response = std::pair<std::string, long>;

// How the server's certificate is checked. Off by default: the peer and its host name
// are not verified. On: both are, against `ca_file` or, when that is empty, the
// system's CA store.
struct tls_settings {
  bool verify = false;
  std::string ca_file;
};

// A reusable easy handle for a series of requests from one thread: libcurl keeps its
// connections, TLS sessions and DNS cache between them, so a request to the same host
// skips the connection and TLS set-up. Each request starts from reset options, so what
// goes on the wire is the same as with a fresh handle. Not for concurrent use.
class session {
 public:
  session();
  ~session();
  session(const session&) = delete;
  session& operator=(const session&) = delete;

  // One request with the options every cloud call uses, in this order: the header list,
  // the method as a custom request, the URL, the TLS peer and host checks, the body (POST
  // only, sent as is), the time-out, no signals, a DNS cache of 7200 s. `body` is null
  // for a request without one. No libcurl failure escapes.
  response perform(const char* method, const char* url, const header_list& headers, const char* body,
                   std::chrono::seconds timeout = kRequestTimeout, const tls_settings& tls = {});

 private:
  std::ostringstream text_;
  std::unique_ptr<curl_easy> easy_;  // made on first use
};

// One request on a handle of its own (see session::perform).
response perform_request(const char* method, const char* url, const header_list& headers, const char* body,
                         std::chrono::seconds timeout = kRequestTimeout, const tls_settings& tls = {});

}  // namespace curl
