#include "nvram/url_host.h"

#include <algorithm>

#include <websocketpp/uri.hpp>

std::optional<std::string> HostOfUrl(const std::string& url) {
  const websocketpp::uri parsed(url);
  if (!parsed.get_valid()) return std::nullopt;
  const std::string host = parsed.get_host();
  // The parser takes any byte up to ':' or '/' as the host; a blank or a control
  // character cannot be part of one.
  const bool usable = !host.empty() && std::none_of(host.begin(), host.end(), [](char c) {
    return static_cast<unsigned char>(c) <= 0x20 || c == 0x7F;
  });
  if (!usable) return std::nullopt;
  return host;
}
