#pragma once

#include <curl/curl.h>

#include "curl/curl_exception.h"

namespace curl {

// Base of every class that needs libcurl: constructing one runs the process-wide
// curl_global_init exactly once (a thread-safe function-local static), and its
// curl_global_cleanup at process exit.
template <typename Code>
class curl_interface {
 public:
  virtual ~curl_interface() = default;

 protected:
  curl_interface() { static const global_initializer initializer; }

 private:
  class global_initializer {
   public:
    global_initializer() {
      const Code code = curl_global_init(CURL_GLOBAL_ALL);
      if (code != CURLE_OK) throw curl_easy_exception(code, "global_initializer");
    }
    ~global_initializer() { curl_global_cleanup(); }
    global_initializer(const global_initializer&) = delete;
    global_initializer& operator=(const global_initializer&) = delete;
  };
};

}  // namespace curl
