#include "ota/download_allowance.h"

namespace ota {

std::optional<std::string> DownloadAllowance::Refuses(std::uint64_t size, const char* what) const {
  if (size > limit) {
    return std::to_string(size) + " bytes " + what + ", more than the " + std::to_string(limit) + " allowed";
  }
  if (size > Room()) {
    return std::to_string(size) + " bytes " + what + " do not fit: " + std::to_string(free) + " bytes are free and " +
           std::to_string(margin) + " stay free";
  }
  return std::nullopt;
}

}  // namespace ota
