#include "curl/request.h"

#include "curl/curl_easy.h"
#include "curl/curl_exception.h"

namespace curl {

session::session() = default;
session::~session() = default;

response session::perform(const char* method, const char* url, const header_list& headers, const char* body,
                          std::chrono::seconds timeout, const tls_settings& tls) {
  text_.str("");
  text_.clear();
  try {
    if (easy_) {
      easy_->reset(response_writer::to(text_));
    } else {
      easy_ = std::make_unique<curl_easy>(response_writer::to(text_));
    }
    curl_easy& easy = *easy_;
    easy.add(CURLOPT_HTTPHEADER, headers.get());
    easy.add(CURLOPT_CUSTOMREQUEST, method);
    easy.add(CURLOPT_URL, url);
    easy.add(CURLOPT_SSL_VERIFYPEER, tls.verify ? 1L : 0L);
    easy.add(CURLOPT_SSL_VERIFYHOST, tls.verify ? 2L : 0L);
    if (tls.verify && !tls.ca_file.empty()) easy.add(CURLOPT_CAINFO, tls.ca_file.c_str());
    if (body != nullptr) easy.add(CURLOPT_POSTFIELDS, body);
    easy.add(CURLOPT_TIMEOUT, static_cast<long>(timeout.count()));
    easy.add(CURLOPT_NOSIGNAL, 1L);
    easy.add(CURLOPT_DNS_CACHE_TIMEOUT, 7200L);
    easy.perform();
    const long status = easy.get_info(CURLINFO_RESPONSE_CODE);
    return {text_.str(), status};
  } catch (const curl_easy_exception& failure) {
    return {failure.what(), static_cast<long>(failure.get_code())};
  }
}

response perform_request(const char* method, const char* url, const header_list& headers, const char* body,
                         std::chrono::seconds timeout, const tls_settings& tls) {
  session fresh;
  return fresh.perform(method, url, headers, body, timeout, tls);
}

}  // namespace curl
