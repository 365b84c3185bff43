#pragma once

#include <curl/curl.h>

#include "curl/curl_exception.h"
#include "curl/curl_interface.h"
#include "curl/response_writer.h"

namespace curl {

// One libcurl easy handle, for one transfer or, reset between them, for a series. Every failure throws curl_easy_exception
// with the name of the operation ("curl_easy", "add", "perform", "get_info").
class curl_easy : public curl_interface<CURLcode> {
 public:
  explicit curl_easy(const response_writer& writer);
  ~curl_easy() override;
  curl_easy(const curl_easy&) = delete;
  curl_easy& operator=(const curl_easy&) = delete;

  // curl_easy_setopt(option, value); the value must have the type libcurl expects for
  // the option (long, const char*, curl_slist*, a callback or a data pointer).
  template <typename Value>
  void add(CURLoption option, Value value) {
    const CURLcode code = curl_easy_setopt(handle_, option, value);
    if (code != CURLE_OK) throw curl_easy_exception(code, "add");
  }

  // Back to the default options with a new writer; libcurl keeps the handle's live
  // connections, TLS session and DNS caches.
  void reset(const response_writer& writer);

  void perform();

  // A long-valued information item, such as CURLINFO_RESPONSE_CODE.
  long get_info(CURLINFO info);
  // A curl_off_t-valued item, such as CURLINFO_CONTENT_LENGTH_DOWNLOAD_T (-1: not known).
  curl_off_t get_info_off(CURLINFO info);

 private:
  CURL* handle_ = nullptr;
};

}  // namespace curl
