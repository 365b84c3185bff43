#include "common/fnv1a.h"

#include <gtest/gtest.h>

using namespace fnv1a_literals;

static_assert(Fnv1a("reset") == 0x650d33c0u, "usable at compile time");
static_assert("reset"_fnv == 0x650d33c0u);

TEST(Fnv1a, KnownValues) {
  const struct {
    const char* text;
    std::uint32_t hash;
  } cases[] = {
      {"", 0x811c9dc5u},
      {"a", 0xe40c292cu},
      {"foobar", 0xbf9cf968u},
      {"reset", 0x650d33c0u},
  };
  for (const auto& entry : cases) EXPECT_EQ(Fnv1a(entry.text), entry.hash) << entry.text;
}

TEST(Fnv1a, HashesBytesAboveAsciiAsUnsigned) {
  // One step over 0xC3: (0x811c9dc5 ^ 0xC3) * 0x01000193 modulo 2^32.
  EXPECT_EQ(Fnv1a("\xC3"), static_cast<std::uint32_t>((0x811c9dc5u ^ 0xC3u) * 0x01000193u));
}
