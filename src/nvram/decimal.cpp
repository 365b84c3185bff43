#include "nvram/decimal.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <stdexcept>

namespace decimal {

namespace {

[[noreturn]] void Fail(const std::string& text, const char* what) {
  throw std::invalid_argument(std::string("Invalid value for ") + what + ": \"" + text + "\"");
}

// The digits of `text` from `first` on, as an unsigned number of `bits` bits.
std::uint64_t DigitsFrom(const std::string& text, std::size_t first, unsigned bits, const char* what) {
  const char* begin = text.data() + first;
  const char* end = text.data() + text.size();
  const bool digits_only = begin != end && std::all_of(begin, end, [](char c) { return c >= '0' && c <= '9'; });
  if (!digits_only) Fail(text, what);
  std::uint64_t value = 0;
  const auto result = std::from_chars(begin, end, value);
  const std::uint64_t limit = bits >= 64 ? std::numeric_limits<std::uint64_t>::max() : (std::uint64_t{1} << bits) - 1;
  if (result.ec != std::errc() || result.ptr != end || value > limit) Fail(text, what);
  return value;
}

}  // namespace

std::uint64_t ParseUnsigned(const std::string& text, unsigned bits, const char* what) {
  const bool plus = !text.empty() && text[0] == '+';
  return DigitsFrom(text, plus ? 1 : 0, bits, what);
}

std::uint64_t ParseDigits(const std::string& text, unsigned bits, const char* what) {
  return DigitsFrom(text, 0, bits, what);
}

std::uint64_t ParseInRange(const std::string& text, std::uint64_t low, std::uint64_t high, const char* what) {
  const std::uint64_t value = ParseUnsigned(text, 64, what);
  if (value < low || value > high) Fail(text, what);
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
