#pragma once

#include <cstddef>
#include <string_view>

// Whether the arrays and objects of a JSON text nest no deeper than `limit` levels, found in
// one pass over the text (strings skipped). Texts from the network are checked with it before
// their values are written out again or copied: those steps recurse once per level, and a
// thread stack of a router's 128 KiB ends within a few thousand levels.
bool JsonNestingWithin(std::string_view text, std::size_t limit);
