#include "plc/address_text.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "log/log.h"

namespace {

constexpr std::size_t kIdDigits = 48;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool IsKeyCharacter(char c) { return IsDigit(c) || IsLetter(c) || c == '_' || c == '-'; }

// Reads the text left to right; each step takes one part and the separator after it.
class Cursor {
 public:
  explicit Cursor(const std::string& text) : text_(text) {}

  bool AtEnd() const { return at_ == text_.size(); }
  bool Take(char wanted) {
    if (AtEnd() || text_[at_] != wanted) return false;
    ++at_;
    return true;
  }
  // The longest run of characters passing `accept`, from here.
  template <typename Accept>
  std::string Run(Accept accept) {
    const std::size_t from = at_;
    while (!AtEnd() && accept(text_[at_])) ++at_;
    return text_.substr(from, at_ - from);
  }
  bool TakeLetter(char& letter) {
    if (AtEnd() || !IsLetter(text_[at_])) return false;
    letter = text_[at_++];
    return true;
  }

 private:
  const std::string& text_;
  std::size_t at_ = 0;
};

// A decimal number of digits only, up to `limit`.
std::optional<std::uint32_t> Number(const std::string& digits, unsigned long limit) {
  errno = 0;
  const unsigned long value = std::strtoul(digits.c_str(), nullptr, 10);
  if (errno == ERANGE || value > limit) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

void LogParts(const AddressTextParts& parts) {
  LOG_VERBOSE << 1 << " : " << parts.id;
  LOG_VERBOSE << 2 << " : " << parts.key;
  LOG_VERBOSE << 3 << " : " << parts.type_letter;
  LOG_VERBOSE << 4 << " : " << parts.device_letter;
  LOG_VERBOSE << 5 << " : " << parts.address_digits;
  LOG_VERBOSE << 6 << " : " << parts.bit_digits.value_or("");
}

}  // namespace

std::optional<AddressTextParts> MatchAddressText(const std::string& text) {
  Cursor cursor(text);
  AddressTextParts parts;
  parts.id = cursor.Run(IsHexDigit);
  if (parts.id.size() != kIdDigits || !cursor.Take('.')) return std::nullopt;
  parts.key = cursor.Run(IsKeyCharacter);
  if (parts.key.empty() || !cursor.Take('.')) return std::nullopt;
  if (!cursor.TakeLetter(parts.type_letter) || !cursor.Take('.')) return std::nullopt;
  if (!cursor.TakeLetter(parts.device_letter) || !cursor.Take('.')) return std::nullopt;
  // The address takes every digit (digits straight after it would only lengthen it); then an
  // optional '.', then optional bit digits, then the end.
  parts.address_digits = cursor.Run(IsDigit);
  if (parts.address_digits.empty()) return std::nullopt;
  if (cursor.Take('.')) {
    std::string bit = cursor.Run(IsDigit);
    if (!bit.empty()) parts.bit_digits = std::move(bit);
  }
  if (!cursor.AtEnd()) return std::nullopt;
  return parts;
}

std::optional<AddressEntry> ParseAddressText(const std::string& text) {
  const auto parts = MatchAddressText(text);
  if (!parts) return std::nullopt;
  LogParts(*parts);
  const auto type = xgt::fenet::DataTypeFromLetter(parts->type_letter);
  if (!type || *type == xgt::fenet::DataType::kContinuous) {
    LOG_ERROR << "Unknown data type letter '" << parts->type_letter << "' in PLC address " << text;
    return std::nullopt;
  }
  const auto address = Number(parts->address_digits, INT_MAX);
  if (!address) {
    LOG_ERROR << "Address number too large in PLC address " << text;
    return std::nullopt;
  }
  AddressEntry entry{parts->id, {parts->key, parts->device_letter, *type, *address, 0}};
  if (*type == xgt::fenet::DataType::kBit && parts->bit_digits) {
    const auto bit = Number(*parts->bit_digits, 15);
    if (!bit) {
      LOG_ERROR << "Bit number above 15 in PLC address " << text;
      return std::nullopt;
    }
    entry.address.bit = *bit;
  }
  return entry;
}
