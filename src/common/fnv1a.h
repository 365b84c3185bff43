#pragma once

#include <cstdint>
#include <string_view>

// 32-bit FNV-1a over the bytes of a text. constexpr, so dispatch tables can switch on
// hashes of their keywords computed at build time.
constexpr std::uint32_t Fnv1a(std::string_view text) noexcept {
  std::uint32_t hash = 0x811C9DC5u;
  for (const char character : text) {
    hash ^= static_cast<std::uint8_t>(character);
    hash *= 0x01000193u;
  }
  return hash;
}

namespace fnv1a_literals {
constexpr std::uint32_t operator""_fnv(const char* text, std::size_t length) noexcept {
  return Fnv1a(std::string_view(text, length));
}
}  // namespace fnv1a_literals
