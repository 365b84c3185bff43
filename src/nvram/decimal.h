#pragma once

#include <cstdint>
#include <string>

// Strict conversions of stored option texts (UCI keeps only text).
namespace decimal {

// Unsigned decimal that fits `bits` bits: digits only, optionally after a '+'. Throws
// std::invalid_argument naming `what` otherwise (a sign, spaces, overflow, empty text).
std::uint64_t ParseUnsigned(const std::string& text, unsigned bits, const char* what);
// Unsigned decimal that fits `bits` bits, written with decimal digits only (no sign).
// Throws as above.
std::uint64_t ParseDigits(const std::string& text, unsigned bits, const char* what);
// Unsigned decimal from `low` to `high`, optionally after a '+'. Throws as above otherwise.
std::uint64_t ParseInRange(const std::string& text, std::uint64_t low, std::uint64_t high, const char* what);
// A flag: an optional '+' (or '-' when the value is 0), any zeros, then 0 or 1.
bool ParseFlag(const std::string& text, const char* what);

}  // namespace decimal
