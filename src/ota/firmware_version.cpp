#include "ota/firmware_version.h"

#include <cctype>
#include <climits>
#include <stdexcept>
#include <tuple>
#include <vector>

namespace ota {
namespace {

std::vector<std::string> SplitPieces(const std::string& text) {
  std::vector<std::string> pieces(1);
  for (const char c : text) {
    if (c == '.' || c == '+' || c == '-') {
      pieces.emplace_back();
    } else {
      pieces.back() += c;
    }
  }
  return pieces;
}

std::uint32_t ReadPiece(const std::string& piece, const std::string& text) {
  if (piece.empty()) throw std::invalid_argument("version '" + text + "' has an empty piece");
  std::uint64_t value = 0;
  for (const char c : piece) {
    if (std::isdigit(static_cast<unsigned char>(c)) == 0) {
      throw std::invalid_argument("version '" + text + "' has a piece that is not a number");
    }
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
    if (value > UINT32_MAX) throw std::invalid_argument("version '" + text + "' has a number out of range");
  }
  return static_cast<std::uint32_t>(value);
}

// Reads one "%d" at `at`: blanks, an optional sign, at least one digit.
bool ScanInt(const std::string& text, std::size_t& at, int& value) {
  while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at])) != 0) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
  const std::size_t first_digit = at;
  long long magnitude = 0;
  while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])) != 0) {
    magnitude = magnitude * 10 + (text[at++] - '0');
    if (magnitude > static_cast<long long>(INT_MAX) + 1) return false;
  }
  if (at == first_digit) return false;
  const long long signed_value = negative ? -magnitude : magnitude;
  if (signed_value > INT_MAX || signed_value < INT_MIN) return false;
  value = static_cast<int>(signed_value);
  return true;
}

template <typename T>
int Order(const T& current, const T& offered) {
  if (offered > current) return 1;
  if (offered < current) return -1;
  return 0;
}

}  // namespace

FirmwareVersion FirmwareVersion::Parse(const std::string& text) {
  const auto pieces = SplitPieces(text);
  if (pieces.size() < 4) throw std::invalid_argument("version '" + text + "' has fewer than four pieces");
  FirmwareVersion version;
  version.major = static_cast<std::uint8_t>(ReadPiece(pieces[0], text));
  version.minor = static_cast<std::uint8_t>(ReadPiece(pieces[1], text));
  version.patch = static_cast<std::uint16_t>(ReadPiece(pieces[2], text));
  version.build = ReadPiece(pieces[3], text);
  return version;
}

bool FirmwareVersion::operator==(const FirmwareVersion& other) const {
  return std::tie(major, minor, patch, build) == std::tie(other.major, other.minor, other.patch, other.build);
}

std::string FirmwareVersion::ToString() const {
  return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch) + "." +
         std::to_string(build);
}

SystemVersion SystemVersion::Parse(const std::string& text) {
  SystemVersion version;
  std::size_t at = 0;
  const bool read = ScanInt(text, at, version.major) && at < text.size() && text[at++] == '.' &&
                    ScanInt(text, at, version.minor) && at < text.size() && text[at++] == '.' &&
                    ScanInt(text, at, version.patch);
  if (!read) throw std::invalid_argument("system version '" + text + "' is not of the form major.minor.patch");
  return version;
}

std::string SystemVersion::ToString() const {
  return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
}

int CompareVersions(const FirmwareVersion& current, const FirmwareVersion& offered) {
  return Order(std::tie(current.major, current.minor, current.patch, current.build),
               std::tie(offered.major, offered.minor, offered.patch, offered.build));
}

int CompareVersions(const SystemVersion& current, const SystemVersion& offered) {
  return Order(std::tie(current.major, current.minor, current.patch),
               std::tie(offered.major, offered.minor, offered.patch));
}

}  // namespace ota
