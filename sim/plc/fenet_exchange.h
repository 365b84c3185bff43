#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plc/plc_memory.h"

namespace sim::plc {

// One read request of 1 to 16 variables of one data type as the stand-in understood it, and
// every field it found wrong (empty when the request is well formed).
struct ReadRequest {
  static constexpr std::size_t kMaxVariables = 16;

  std::uint16_t invoke_id = 0;
  std::uint8_t position = 0;
  std::uint16_t data_type = 0;
  std::string variable;  // the first: "%DW100"
  VariableRef ref{};     // the first
  std::vector<std::string> variables;  // every one, in order
  std::vector<VariableRef> refs;
  std::vector<std::string> problems;
};

// Checks a whole frame (header and body) field by field against the read request the gateway
// sends to a FEnet module at `expected_position`.
ReadRequest CheckReadRequest(const std::vector<std::uint8_t>& frame, std::uint8_t expected_position);

// The read response carrying `data` as its one block.
std::vector<std::uint8_t> ReadResponse(const ReadRequest& request, const std::vector<std::uint8_t>& data);
// The read response carrying one block per variable.
std::vector<std::uint8_t> ReadResponse(const ReadRequest& request, const std::vector<std::vector<std::uint8_t>>& blocks);
// A response with an error state (0xFFFF) and `code`.
std::vector<std::uint8_t> ErrorResponse(const ReadRequest& request, std::uint8_t code);

constexpr std::size_t kHeaderSize = 20;
// The length field of a header (bytes 16..17).
std::size_t BodyLength(const std::vector<std::uint8_t>& header);

}  // namespace sim::plc
