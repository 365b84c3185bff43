#include "plc/plc_memory.h"

#include <stdexcept>

namespace sim::plc {

std::size_t SizeOf(char type) {
  switch (type) {
    case 'X':
    case 'B':
      return 1;
    case 'W':
      return 2;
    case 'D':
      return 4;
    case 'L':
      return 8;
    default:
      return 0;
  }
}

namespace {

// The byte offset of a variable inside its area (for bits: of its word).
std::uint64_t OffsetOf(char type, std::uint32_t address) {
  return type == 'X' ? std::uint64_t{address} * 2 : std::uint64_t{address} * SizeOf(type);
}

}  // namespace

std::vector<std::uint8_t>& Memory::Area(char device) {
  auto& area = areas_[device];
  if (area.empty()) area.assign(kAreaBytes, 0);
  return area;
}

std::optional<std::vector<std::uint8_t>> Memory::Read(char device, char type, std::uint32_t address,
                                                      std::uint32_t bit) const {
  const std::size_t size = SizeOf(type);
  const std::uint64_t offset = OffsetOf(type, address);
  if (size == 0 || bit > 15 || offset + (type == 'X' ? 2 : size) > kAreaBytes) return std::nullopt;
  const auto found = areas_.find(device);
  std::vector<std::uint8_t> bytes(size, 0);
  if (found == areas_.end()) return bytes;
  const auto& area = found->second;
  if (type == 'X') {
    const unsigned word = area[offset] | (area[offset + 1] << 8);
    bytes[0] = static_cast<std::uint8_t>((word >> bit) & 1u);
  } else {
    for (std::size_t index = 0; index < size; ++index) bytes[index] = area[offset + index];
  }
  return bytes;
}

bool Memory::Write(char device, char type, std::uint32_t address, std::uint32_t bit, std::uint64_t value) {
  const std::size_t size = SizeOf(type);
  const std::uint64_t offset = OffsetOf(type, address);
  if (size == 0 || bit > 15 || offset + (type == 'X' ? 2 : size) > kAreaBytes) return false;
  auto& area = Area(device);
  if (type == 'X') {
    unsigned word = area[offset] | (area[offset + 1] << 8);
    word = (value & 1u) != 0 ? (word | (1u << bit)) : (word & ~(1u << bit));
    area[offset] = static_cast<std::uint8_t>(word & 0xFF);
    area[offset + 1] = static_cast<std::uint8_t>(word >> 8);
  } else {
    for (std::size_t index = 0; index < size; ++index) area[offset + index] = static_cast<std::uint8_t>(value >> (8 * index));
  }
  return true;
}

void Memory::Tick() {
  for (const auto& [device, word] : counters_) {
    const auto bytes = Read(device, 'W', word, 0);
    if (!bytes) continue;
    const unsigned value = (*bytes)[0] | ((*bytes)[1] << 8);
    Write(device, 'W', word, 0, (value + 1) & 0xFFFFu);
  }
}

void Memory::Apply(const nlohmann::json& setup) {
  if (setup.contains("values")) {
    for (const auto& [name, value] : setup.at("values").items()) {
      const auto ref = ParseVariableRef(name);
      const std::uint64_t raw =
          value.is_number_integer() && value.get<std::int64_t>() < 0 ? static_cast<std::uint64_t>(value.get<std::int64_t>())
                                                                      : value.get<std::uint64_t>();
      if (!Write(ref.device, ref.type, ref.address, ref.bit, raw)) throw std::invalid_argument("out of range: " + name);
    }
  }
  if (setup.contains("counters")) {
    for (const auto& name : setup.at("counters")) {
      const auto ref = ParseVariableRef(name.get<std::string>());
      AddCounter(ref.device, ref.address);
    }
  }
}

VariableRef ParseVariableRef(const std::string& text) {
  if (text.size() < 3 || SizeOf(text[1]) == 0) throw std::invalid_argument("bad variable " + text);
  VariableRef ref{text[0], text[1], 0, 0};
  const auto dot = text.find('.');
  ref.address = static_cast<std::uint32_t>(std::stoul(text.substr(2, dot - 2)));
  if (dot != std::string::npos) ref.bit = static_cast<std::uint32_t>(std::stoul(text.substr(dot + 1)));
  return ref;
}

}  // namespace sim::plc
