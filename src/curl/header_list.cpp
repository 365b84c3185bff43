#include "curl/header_list.h"

#include "curl/curl_exception.h"

namespace curl {

header_list::header_list(const std::vector<std::string>& lines) {
  try {
    for (const auto& line : lines) add(line);
  } catch (...) {
    curl_slist_free_all(list_);
    throw;
  }
}

header_list::~header_list() { curl_slist_free_all(list_); }

void header_list::add(const std::string& line) {
  curl_slist* const extended = curl_slist_append(list_, line.c_str());
  if (extended == nullptr) throw curl_exception("Null pointer exception", "add");
  list_ = extended;
  ++count_;
}

}  // namespace curl
