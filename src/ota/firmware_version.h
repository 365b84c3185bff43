#pragma once

#include <cstdint>
#include <string>

namespace ota {

// A package or device firmware version: the text split at every '.', '+' and '-', the first
// four pieces read as decimal numbers and kept at the widths the image header carries them
// (1.2.3-4 and 1.2.3+4 are both (1, 2, 3, 4)).
struct FirmwareVersion {
  std::uint8_t major = 0;
  std::uint8_t minor = 0;
  std::uint16_t patch = 0;
  std::uint32_t build = 0;

  // Throws std::invalid_argument for fewer than four pieces or a piece that is not a decimal
  // number of at most 32 bits (an empty piece included).
  static FirmwareVersion Parse(const std::string& text);

  bool operator==(const FirmwareVersion& other) const;
  bool operator!=(const FirmwareVersion& other) const { return !(*this == other); }
  std::string ToString() const;  // "major.minor.patch.build"
};

// An operating-system release: "%d.%d.%d" (leading blanks and signs as scanf reads them,
// anything after the third number ignored).
struct SystemVersion {
  int major = 0;
  int minor = 0;
  int patch = 0;

  // Throws std::invalid_argument when the text does not start with three numbers joined by
  // '.', or a number does not fit an int.
  static SystemVersion Parse(const std::string& text);
  std::string ToString() const;  // "major.minor.patch"
};

// 1 when `offered` is greater than `current`, 0 when equal, -1 when smaller, field by field.
int CompareVersions(const FirmwareVersion& current, const FirmwareVersion& offered);
int CompareVersions(const SystemVersion& current, const SystemVersion& offered);

}  // namespace ota
