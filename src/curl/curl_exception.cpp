#include "curl/curl_exception.h"

#include <deque>
#include <mutex>

namespace curl {
namespace {

std::mutex& TracebackLock() {
  static std::mutex lock;
  return lock;
}

std::deque<curl_error_record>& Traceback() {
  static std::deque<curl_error_record> records;
  return records;
}

void Record(const std::string& message, const std::string& operation) {
  const std::lock_guard<std::mutex> guard(TracebackLock());
  auto& records = Traceback();
  records.emplace_front(message, operation);
  if (records.size() > curl_exception::kTracebackCapacity) records.pop_back();
}

}  // namespace

curl_exception::curl_exception(std::string message, std::string operation)
    : message_(std::move(message)), operation_(std::move(operation)) {
  Record(message_, operation_);
}

std::vector<curl_error_record> curl_exception::get_traceback() {
  const std::lock_guard<std::mutex> guard(TracebackLock());
  return {Traceback().begin(), Traceback().end()};
}

void curl_exception::clear_traceback() {
  const std::lock_guard<std::mutex> guard(TracebackLock());
  Traceback().clear();
}

curl_easy_exception::curl_easy_exception(CURLcode code, std::string operation)
    : curl_exception(curl_easy_strerror(code), std::move(operation)), code_(code) {}

curl_easy_exception::curl_easy_exception(std::string message, std::string operation, CURLcode code)
    : curl_exception(std::move(message), std::move(operation)), code_(code) {}

}  // namespace curl
