#pragma once

#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

namespace packet_test {

// "80 0C" -> {0x80, 0x0C}; spaces are ignored.
inline std::vector<unsigned char> FromHex(const std::string& text) {
  std::vector<unsigned char> bytes;
  std::string digits;
  for (const char c : text) {
    if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;
  }
  for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
    bytes.push_back(static_cast<unsigned char>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

inline std::string ToHex(const std::vector<unsigned char>& bytes) {
  std::string text;
  char byte[4];
  for (const unsigned char b : bytes) {
    std::snprintf(byte, sizeof byte, "%02X ", b);
    text += byte;
  }
  if (!text.empty()) text.pop_back();
  return text;
}

inline std::vector<unsigned char> Concat(std::vector<unsigned char> head, const std::vector<unsigned char>& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

}  // namespace packet_test
