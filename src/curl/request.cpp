#include "curl/request.h"

#include <sstream>

#include "curl/curl_easy.h"
#include "curl/curl_exception.h"

namespace curl {

response perform_request(const char* method, const char* url, const header_list& headers, const char* body,
                         std::chrono::seconds timeout) {
  std::ostringstream text;
  try {
    curl_easy easy(response_writer::to(text));
    easy.add(CURLOPT_HTTPHEADER, headers.get());
    easy.add(CURLOPT_CUSTOMREQUEST, method);
    easy.add(CURLOPT_URL, url);
    easy.add(CURLOPT_SSL_VERIFYPEER, 0L);
    easy.add(CURLOPT_SSL_VERIFYHOST, 0L);
    if (body != nullptr) easy.add(CURLOPT_POSTFIELDS, body);
    easy.add(CURLOPT_TIMEOUT, static_cast<long>(timeout.count()));
    easy.add(CURLOPT_NOSIGNAL, 1L);
    easy.add(CURLOPT_DNS_CACHE_TIMEOUT, 7200L);
    easy.perform();
    const long status = easy.get_info(CURLINFO_RESPONSE_CODE);
    return {text.str(), status};
  } catch (const curl_easy_exception& failure) {
    return {failure.what(), static_cast<long>(failure.get_code())};
  }
}

}  // namespace curl
