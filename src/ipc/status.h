#pragma once

#include <string>

namespace ipc {

// Status codes of the bus, as carried in STATUS messages and returned by requests.
enum Status : int {
  kOk = 0,
  kInvalidCommand = 1,
  kInvalidArgument = 2,
  kMethodNotFound = 3,
  kNotFound = 4,
  kNoData = 5,
  kPermissionDenied = 6,
  kTimeout = 7,
  kNotSupported = 8,
  kUnknownError = 9,
  kConnectionFailed = 10,
  kNoMemory = 11,
  kParseError = 12,
  kSystemError = 13,
};

// The platform library's text for a status code ("Request timed out", ...).
std::string StatusText(int status);

}  // namespace ipc
