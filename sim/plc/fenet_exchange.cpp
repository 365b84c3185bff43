#include "plc/fenet_exchange.h"

#include <cctype>
#include <cstdio>
#include <stdexcept>

namespace sim::plc {

namespace {

constexpr std::uint8_t kPlcToClient = 0x11;
constexpr std::uint8_t kClientToPlc = 0x33;

std::uint16_t U16(const std::vector<std::uint8_t>& frame, std::size_t offset) {
  return static_cast<std::uint16_t>(frame.at(offset) | (frame.at(offset + 1) << 8));
}

void PutU16(std::vector<std::uint8_t>& frame, std::uint16_t value) {
  frame.push_back(static_cast<std::uint8_t>(value & 0xFF));
  frame.push_back(static_cast<std::uint8_t>(value >> 8));
}

std::string Hex(unsigned value) {
  char text[12];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

char LetterOf(std::uint16_t data_type) {
  static const char kLetters[] = {'X', 'B', 'W', 'D', 'L'};
  return data_type < 5 ? kLetters[data_type] : '\0';
}

// "%DW100" or "%MX103" (bit types: the last hexadecimal digit is the bit); the problems it has.
VariableRef ParseVariable(const std::string& name, char expected_letter, std::vector<std::string>& problems) {
  VariableRef ref{};
  if (name.size() < 4 || name[0] != '%') {
    problems.push_back("variable name " + name + " is not %<device><type><address>");
    return ref;
  }
  ref.device = name[1];
  ref.type = name[2];
  if (name[2] != expected_letter) {
    problems.push_back(std::string("variable type letter ") + name[2] + " does not match the data type");
  }
  std::string digits = name.substr(3);
  if (name[2] == 'X') {
    const char bit = digits.back();
    if (!std::isxdigit(static_cast<unsigned char>(bit)) || std::isupper(static_cast<unsigned char>(bit))) {
      problems.push_back("bit digit of " + name + " is not lowercase hexadecimal");
      return ref;
    }
    ref.bit = static_cast<std::uint32_t>(std::stoul(std::string(1, bit), nullptr, 16));
    digits.pop_back();
  }
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 9) {
    problems.push_back("address of " + name + " is not a decimal number");
    return ref;
  }
  ref.address = static_cast<std::uint32_t>(std::stoul(digits));
  return ref;
}

// The variable names after the fixed fields, one (length, name) pair per block.
void ParseVariables(const std::vector<std::uint8_t>& frame, std::size_t count, ReadRequest& request) {
  auto& problems = request.problems;
  std::size_t at = kHeaderSize + 8;
  for (std::size_t index = 0; index < count; ++index) {
    if (frame.size() < at + 2) {
      problems.push_back(index == 0 ? "the variable name length is missing"
                                    : "block count is " + std::to_string(count) + " but the frame holds " +
                                          std::to_string(index) + " variable name(s)");
      return;
    }
    const std::size_t name_length = U16(frame, at);
    if (frame.size() < at + 2 + name_length) {
      problems.push_back("variable name length " + std::to_string(name_length) + " does not match the frame");
      return;
    }
    request.variables.emplace_back(frame.begin() + static_cast<long>(at + 2),
                                   frame.begin() + static_cast<long>(at + 2 + name_length));
    at += 2 + name_length;
  }
  if (at != frame.size()) {
    problems.push_back("variable name length " + std::to_string(U16(frame, kHeaderSize + 8)) +
                       " does not match the frame");
  }
}

std::vector<std::uint8_t> Header(const ReadRequest& request, std::size_t body_length) {
  std::vector<std::uint8_t> frame{'L', 'S', 'I', 'S', '-', 'X', 'G', 'T', 0, 0};
  PutU16(frame, 0);      // PLC info
  frame.push_back(0xA0);  // CPU info: XGK
  frame.push_back(kPlcToClient);
  PutU16(frame, request.invoke_id);
  PutU16(frame, static_cast<std::uint16_t>(body_length));
  frame.push_back(request.position);
  frame.push_back(0);  // checksum
  return frame;
}

}  // namespace

std::size_t BodyLength(const std::vector<std::uint8_t>& header) { return U16(header, 16); }

ReadRequest CheckReadRequest(const std::vector<std::uint8_t>& frame, std::uint8_t expected_position) {
  ReadRequest request;
  auto& problems = request.problems;
  if (frame.size() < kHeaderSize + 8) {
    problems.push_back("frame of " + std::to_string(frame.size()) + " bytes is too short for a read request");
    return request;
  }
  if (std::string(frame.begin(), frame.begin() + 10) != std::string("LSIS-XGT\0\0", 10)) {
    problems.push_back("company id is not LSIS-XGT followed by two zero bytes");
  }
  if (U16(frame, 10) != 0) problems.push_back("PLC info is " + Hex(U16(frame, 10)) + ", not 0");
  if (frame[12] != 0) problems.push_back("CPU info is " + Hex(frame[12]) + ", not 0");
  if (frame[13] != kClientToPlc) problems.push_back("source of frame is " + Hex(frame[13]) + ", not 0x33");
  request.invoke_id = U16(frame, 14);
  if (BodyLength(frame) != frame.size() - kHeaderSize) {
    problems.push_back("length field " + std::to_string(BodyLength(frame)) + " does not count the " +
                       std::to_string(frame.size() - kHeaderSize) + " bytes after the header");
  }
  request.position = frame[18];
  if (frame[18] != expected_position) {
    problems.push_back("FEnet position is " + Hex(frame[18]) + ", this module sits at " + Hex(expected_position));
  }
  if (frame[19] != 0) problems.push_back("checksum is " + Hex(frame[19]) + ", not 0");
  if (U16(frame, 20) != 0x0054) problems.push_back("command is " + Hex(U16(frame, 20)) + ", not 0x54 (read)");
  request.data_type = U16(frame, 22);
  const char letter = LetterOf(request.data_type);
  if (letter == '\0') problems.push_back("data type " + Hex(request.data_type) + " is not a single-variable type");
  if (U16(frame, 24) != 0) problems.push_back("reserved field is " + Hex(U16(frame, 24)) + ", not 0");
  const std::size_t count = U16(frame, 26);
  if (count < 1 || count > ReadRequest::kMaxVariables) {
    problems.push_back("block count is " + std::to_string(count) + ", not 1 to " +
                       std::to_string(ReadRequest::kMaxVariables));
    return request;
  }
  ParseVariables(frame, count, request);
  if (request.variables.size() != count) return request;
  for (const auto& name : request.variables) {
    request.refs.push_back(letter != '\0' ? ParseVariable(name, letter, problems) : VariableRef{});
  }
  request.variable = request.variables.front();
  request.ref = request.refs.front();
  return request;
}

std::vector<std::uint8_t> ReadResponse(const ReadRequest& request, const std::vector<std::uint8_t>& data) {
  return ReadResponse(request, std::vector<std::vector<std::uint8_t>>{data});
}

std::vector<std::uint8_t> ReadResponse(const ReadRequest& request, const std::vector<std::vector<std::uint8_t>>& blocks) {
  std::size_t body_length = 10;
  for (const auto& block : blocks) body_length += 2 + block.size();
  auto frame = Header(request, body_length);
  PutU16(frame, 0x0055);
  PutU16(frame, request.data_type);
  PutU16(frame, 0);  // reserved
  PutU16(frame, 0);  // error state
  PutU16(frame, static_cast<std::uint16_t>(blocks.size()));
  for (const auto& block : blocks) {
    PutU16(frame, static_cast<std::uint16_t>(block.size()));
    frame.insert(frame.end(), block.begin(), block.end());
  }
  return frame;
}

std::vector<std::uint8_t> ErrorResponse(const ReadRequest& request, std::uint8_t code) {
  auto frame = Header(request, 9);
  PutU16(frame, 0x0055);
  PutU16(frame, request.data_type);
  PutU16(frame, 0);
  PutU16(frame, 0xFFFF);
  frame.push_back(code);
  return frame;
}

}  // namespace sim::plc
