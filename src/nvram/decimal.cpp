#include "nvram/decimal.h"

#include <charconv>
#include <limits>
#include <stdexcept>

namespace decimal {

namespace {

[[noreturn]] void Fail(const std::string& text, const char* what) {
  throw std::invalid_argument(std::string("Invalid value for ") + what + ": \"" + text + "\"");
}

}  // namespace

std::uint64_t ParseUnsigned(const std::string& text, unsigned bits, const char* what) {
  const char* begin = text.data();
  const char* end = begin + text.size();
  if (begin != end && *begin == '+') ++begin;
  if (begin == end || *begin < '0' || *begin > '9') Fail(text, what);
  std::uint64_t value = 0;
  const auto result = std::from_chars(begin, end, value);
  const std::uint64_t limit = bits >= 64 ? std::numeric_limits<std::uint64_t>::max() : (std::uint64_t{1} << bits) - 1;
  if (result.ec != std::errc() || result.ptr != end || value > limit) Fail(text, what);
  return value;
}

int ParseInt(const std::string& text, const char* what) {
  const char* begin = text.data();
  const char* end = begin + text.size();
  if (begin != end && *begin == '+') ++begin;
  if (begin == end) Fail(text, what);
  int value = 0;
  const auto result = std::from_chars(begin, end, value);
  if (result.ec != std::errc() || result.ptr != end) Fail(text, what);
  return value;
}

bool ParseFlag(const std::string& text, const char* what) {
  std::size_t at = 0;
  const bool minus = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '+' || minus)) ++at;
  while (at + 1 < text.size() && text[at] == '0') ++at;
  if (at + 1 != text.size() || (text[at] != '0' && text[at] != '1')) Fail(text, what);
  if (minus && text[at] == '1') Fail(text, what);
  return text[at] == '1';
}

}  // namespace decimal
