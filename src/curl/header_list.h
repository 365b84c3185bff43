#pragma once

#include <curl/curl.h>

#include <cstddef>
#include <string>
#include <vector>

namespace curl {

// The header lines of one request, handed to libcurl as CURLOPT_HTTPHEADER.
class header_list {
 public:
  header_list() = default;
  explicit header_list(const std::vector<std::string>& lines);
  ~header_list();
  header_list(const header_list&) = delete;
  header_list& operator=(const header_list&) = delete;

  // Appends one line; throws curl_exception("Null pointer exception", "add") on failure.
  void add(const std::string& line);

  curl_slist* get() const noexcept { return list_; }
  std::size_t size() const noexcept { return count_; }

 private:
  std::size_t count_ = 0;
  curl_slist* list_ = nullptr;
};

}  // namespace curl
