#include "ipc/status.h"

#include <array>

namespace ipc {

std::string StatusText(int status) {
  static constexpr std::array<const char*, 14> kTexts = {
      "Success",          "Invalid command",         "Invalid argument", "Method not found", "Not found",
      "No response",      "Permission denied",       "Request timed out", "Operation not supported",
      "Unknown error",    "Connection failed",       "Out of memory",    "Parsing message data failed",
      "System error"};
  if (status >= 0 && status < static_cast<int>(kTexts.size())) return kTexts[static_cast<std::size_t>(status)];
  return "Unknown error: " + std::to_string(status);
}

}  // namespace ipc
