#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace sim::plc {

// The stand-in PLC's memory: one byte area per device letter, little-endian words. A word
// address N covers bytes 2N..2N+1, a double word 4N..4N+3, a long word 8N..8N+7, a byte N, and
// the bit b of word N is bit b of that word. Counters are words that count up by one on each
// Tick, so polled values change over time.
class Memory {
 public:
  static constexpr std::size_t kAreaBytes = 65536;

  // The bytes of one variable ("%DW100" reads 2 bytes of D at 200); nothing when out of range.
  std::optional<std::vector<std::uint8_t>> Read(char device, char type, std::uint32_t address,
                                                std::uint32_t bit) const;
  // Writes `value` as a variable of `type` (letters X, B, W, D, L); false when out of range.
  bool Write(char device, char type, std::uint32_t address, std::uint32_t bit, std::uint64_t value);
  void AddCounter(char device, std::uint32_t word) { counters_.insert({device, word}); }
  void Tick();
  // Applies {"values":{"DW100":1234,"MX10.3":1,...},"counters":["DW101"]}.
  void Apply(const nlohmann::json& setup);

 private:
  std::vector<std::uint8_t>& Area(char device);

  std::map<char, std::vector<std::uint8_t>> areas_;
  std::set<std::pair<char, std::uint32_t>> counters_;
};

// "DW100" -> ('D','W',100,0); "MX10.3" -> ('M','X',10,3). Throws std::invalid_argument.
struct VariableRef {
  char device;
  char type;
  std::uint32_t address;
  std::uint32_t bit;
};
VariableRef ParseVariableRef(const std::string& text);

// Bytes of one variable of a type letter (X, B: 1; W: 2; D: 4; L: 8), 0 for other letters.
std::size_t SizeOf(char type);

}  // namespace sim::plc
