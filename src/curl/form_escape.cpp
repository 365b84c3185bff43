#include "curl/form_escape.h"

#include <curl/curl.h>

#include <memory>

#include "curl/curl_exception.h"

namespace curl {

std::string form_escape(const std::string& value) {
  // libcurl ignores the handle here.
  const std::unique_ptr<char, decltype(&curl_free)> escaped(
      curl_easy_escape(nullptr, value.data(), static_cast<int>(value.size())), &curl_free);
  if (!escaped) throw curl_exception("Null pointer exception", "escape");
  return escaped.get();
}

}  // namespace curl
