#include "curl/curl_easy.h"

namespace curl {

curl_easy::curl_easy(const response_writer& writer) : handle_(curl_easy_init()) {
  if (handle_ == nullptr) throw curl_easy_exception("Null pointer intercepted", "curl_easy", CURLE_OK);
  try {
    add(CURLOPT_WRITEFUNCTION, writer.write);
    add(CURLOPT_WRITEDATA, writer.target);
  } catch (...) {
    curl_easy_cleanup(handle_);
    throw;
  }
}

curl_easy::~curl_easy() {
  if (handle_ != nullptr) curl_easy_cleanup(handle_);
}

void curl_easy::reset(const response_writer& writer) {
  curl_easy_reset(handle_);
  add(CURLOPT_WRITEFUNCTION, writer.write);
  add(CURLOPT_WRITEDATA, writer.target);
}

void curl_easy::perform() {
  const CURLcode code = curl_easy_perform(handle_);
  if (code != CURLE_OK) throw curl_easy_exception(code, "perform");
}

long curl_easy::get_info(CURLINFO info) {
  long value = 0;
  const CURLcode code = curl_easy_getinfo(handle_, info, &value);
  if (code != CURLE_OK) throw curl_easy_exception(code, "get_info");
  return value;
}

curl_off_t curl_easy::get_info_off(CURLINFO info) {
  curl_off_t value = 0;
  const CURLcode code = curl_easy_getinfo(handle_, info, &value);
  if (code != CURLE_OK) throw curl_easy_exception(code, "get_info");
  return value;
}

}  // namespace curl
