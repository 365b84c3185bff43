#pragma once

#include <curl/curl.h>

#include <cstddef>
#include <exception>
#include <string>
#include <utility>
#include <vector>

namespace curl {

// (message, operation name) of one libcurl failure.
using curl_error_record = std::pair<std::string, std::string>;

// A libcurl failure: the message and the name of the failing operation. Every
// construction records the pair at the front of a process-wide list (newest first),
// which the firmware manager prints after a failed download. The list keeps only the
// newest kTracebackCapacity pairs so that a long-running daemon does not grow it forever.
// what() is deliberately the standard library's text; the details are in message().
class curl_exception : public std::exception {
 public:
  static constexpr std::size_t kTracebackCapacity = 64;

  curl_exception(std::string message, std::string operation);
  ~curl_exception() override = default;

  const std::string& message() const noexcept { return message_; }
  const std::string& operation() const noexcept { return operation_; }

  // A copy of the recorded pairs, newest first.
  static std::vector<curl_error_record> get_traceback();
  static void clear_traceback();

 private:
  std::string message_;
  std::string operation_;
};

// A libcurl easy-interface failure; the message is curl_easy_strerror(code) unless given.
class curl_easy_exception : public curl_exception {
 public:
  curl_easy_exception(CURLcode code, std::string operation);
  curl_easy_exception(std::string message, std::string operation, CURLcode code);
  ~curl_easy_exception() override = default;

  CURLcode get_code() const noexcept { return code_; }

 private:
  CURLcode code_;
};

}  // namespace curl
