#include "cloud/recorded_request.h"

#include <chrono>
#include <string>

namespace sim::cloud {

RecordedRequest Record(const HttpRequest& request, TlsStream& stream) {
  RecordedRequest record;
  record.received_ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
  const char* server_name = SSL_get_servername(stream.native_handle(), TLSEXT_NAMETYPE_host_name);
  if (server_name != nullptr) record.server_name = server_name;
  record.method = std::string(request.method_string());
  record.target = std::string(request.target());
  record.request_line = record.method + " " + record.target + " HTTP/" + std::to_string(request.version() / 10) +
                        "." + std::to_string(request.version() % 10);
  for (const auto& field : request) {
    record.headers.push_back(std::string(field.name_string()) + ": " + std::string(field.value()));
  }
  record.body = request.body();
  return record;
}

}  // namespace sim::cloud
