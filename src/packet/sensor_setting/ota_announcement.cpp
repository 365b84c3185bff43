#include "packet/sensor_setting/ota_announcement.h"

#include <openssl/rand.h>

#include <array>
#include <cerrno>
#include <cstdlib>

#include "log/log.h"

namespace packet::sensor_setting::set {

namespace {

// Reads "%d.%d.%d+%d": each number may be preceded by white space and a sign, and out-of-range
// numbers saturate at 64 bits (whatever the width of long, so that every processor sends the
// same low bytes). Parsing stops at the first part that does not match.
std::array<long long, 4> ParseVersion(const std::string& version) {
  std::array<long long, 4> numbers{};
  const char separators[] = {'.', '.', '+'};
  const char* cursor = version.c_str();
  for (std::size_t index = 0; index < numbers.size(); ++index) {
    char* end = nullptr;
    errno = 0;
    numbers[index] = std::strtoll(cursor, &end, 10);
    if (end == cursor) {
      numbers[index] = 0;
      break;
    }
    cursor = end;
    if (index < 3) {
      if (*cursor != separators[index]) break;
      ++cursor;
    }
  }
  return numbers;
}

}  // namespace

bool CryptoNonce(OTA::Nonce& nonce) {
  static_cast<void>(RAND_status());
  return RAND_bytes(nonce.data(), static_cast<int>(nonce.size())) == 1;
}

OTA MakeOTAAnnouncement(int firmware_type, const std::string& version, int size, const NonceSource& nonce_source) {
  OTA announcement;
  announcement.FirmwareType = static_cast<std::uint16_t>(firmware_type);
  const std::array<long long, 4> numbers = ParseVersion(version);
  // Each number cut to its low byte on purpose: deployed nodes read one byte per version part.
  announcement.Major = static_cast<std::uint8_t>(numbers[0] & 0xFF);
  announcement.Minor = static_cast<std::uint8_t>(numbers[1] & 0xFF);
  announcement.Patch = static_cast<std::uint8_t>(numbers[2] & 0xFF);
  announcement.Build = static_cast<std::uint8_t>(numbers[3] & 0xFF);
  announcement.FirmwareSize = static_cast<std::uint16_t>(size);  // low 16 bits on purpose: the nodes' size field
  if (!nonce_source(announcement.SessionNonce)) {
    announcement.SessionNonce.fill(0);
    LOG_ERROR << "no random bytes for the firmware session nonce";
  }
  return announcement;
}

}  // namespace packet::sensor_setting::set
