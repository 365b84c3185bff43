#pragma once

// The expression PLC address texts were matched with, and a check that the one-pass matcher
// agrees with it (shared by the PLC fuzz targets).

#include <regex>
#include <string>

#include "packet_fuzz_support.h"
#include "plc/address_text.h"

namespace fuzz_support {

// std::regex recurses once per character; texts up to this length fit the fuzzer's stack.
constexpr std::size_t kLongestRegexText = 512;

inline void RequireMatcherAgreesWithPattern(const std::string& text) {
  if (text.size() > kLongestRegexText) return;
  static const std::regex pattern(
      "([0-9A-Fa-f]{48})\\.([a-zA-Z0-9_-]+)\\.([a-zA-Z])\\.([a-zA-Z])\\.([0-9]+)[\\.]?([0-9]+)?");
  std::smatch groups;
  const bool matched = std::regex_match(text, groups, pattern);
  const auto parts = MatchAddressText(text);
  Require(parts.has_value() == matched, "the matcher accepts what the pattern accepts");
  if (!matched) return;
  Require(parts->id == groups[1].str() && parts->key == groups[2].str(), "id and key agree");
  Require(std::string(1, parts->type_letter) == groups[3].str() &&
              std::string(1, parts->device_letter) == groups[4].str(),
          "letters agree");
  Require(parts->address_digits == groups[5].str(), "address digits agree");
  Require(parts->bit_digits.has_value() == groups[6].matched &&
              (!groups[6].matched || *parts->bit_digits == groups[6].str()),
          "bit digits agree");
}

}  // namespace fuzz_support
