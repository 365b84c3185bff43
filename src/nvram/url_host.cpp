#include "nvram/url_host.h"

#include <regex>

std::optional<std::string> HostOfUrl(const std::string& url) {
  static const std::regex kUrl("(http|https)://([^/ :]+):?([^/ ]*)(/?[^ #?]*)\\x3f?([^ #]*)#?([^ ]*)",
                               std::regex::ECMAScript);
  // std::regex recurses per character; a URL this long is not a cloud address anyway.
  if (url.size() > 4096) return std::nullopt;
  std::smatch match;
  if (!std::regex_match(url, match, kUrl)) return std::nullopt;
  return match[2].str();
}
