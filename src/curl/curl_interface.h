#pragma once

#include <curl/curl.h>

#include <memory>

#include "curl/curl_exception.h"

namespace curl {

// Base of every class that needs libcurl: constructing one runs the process-wide
// curl_global_init exactly once (a thread-safe function-local static), and its
// curl_global_cleanup at process exit. An object whose threads may still make requests
// while the process exits holds a lease: the cleanup then waits until it lets go, so it
// never runs under a transfer in progress.
template <typename Code>
class curl_interface {
 public:
  virtual ~curl_interface() = default;

  // Keeps libcurl initialised while held; throws like the initialisation.
  static std::shared_ptr<const void> global_lease() {
    static const std::shared_ptr<const global_initializer> initializer = std::make_shared<global_initializer>();
    return initializer;
  }

 protected:
  curl_interface() { global_lease(); }

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
