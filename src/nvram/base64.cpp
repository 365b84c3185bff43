#include "nvram/base64.h"

namespace base64 {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int ValueOf(char character) {
  if (character >= 'A' && character <= 'Z') return character - 'A';
  if (character >= 'a' && character <= 'z') return character - 'a' + 26;
  if (character >= '0' && character <= '9') return character - '0' + 52;
  if (character == '+') return 62;
  if (character == '/') return 63;
  return -1;
}

}  // namespace

std::string Encode(const std::vector<std::uint8_t>& bytes) {
  std::string text;
  std::size_t at = 0;
  for (; at + 2 < bytes.size(); at += 3) {
    const std::uint32_t group = (bytes[at] << 16) | (bytes[at + 1] << 8) | bytes[at + 2];
    for (int shift = 18; shift >= 0; shift -= 6) text += kAlphabet[(group >> shift) & 0x3F];
  }
  const std::size_t left = bytes.size() - at;
  if (left > 0) {
    const std::uint32_t group = (bytes[at] << 16) | (left > 1 ? bytes[at + 1] << 8 : 0);
    text += kAlphabet[(group >> 18) & 0x3F];
    text += kAlphabet[(group >> 12) & 0x3F];
    text += left > 1 ? kAlphabet[(group >> 6) & 0x3F] : '=';
    text += '=';
  }
  return text;
}

std::vector<std::uint8_t> Decode(const std::string& text) {
  std::vector<std::uint8_t> bytes;
  std::uint32_t group = 0;
  int bits = 0;
  for (const char character : text) {
    const int value = ValueOf(character);
    if (value < 0) break;
    group = (group << 6) | static_cast<std::uint32_t>(value);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      bytes.push_back(static_cast<std::uint8_t>(group >> bits));
    }
  }
  return bytes;
}

std::optional<std::vector<std::uint8_t>> DecodeCanonical(const std::string& text) {
  auto bytes = Decode(text);
  if (Encode(bytes) != text) return std::nullopt;
  return bytes;
}

}  // namespace base64
