#pragma once

#include <chrono>
#include <cstdint>
#include <string>

// Whether a PLC answers: idle until it is first asked, then answering or failing by its
// latest request.
enum class PlcState { kIdle, kAnswering, kFailing };

// How the reads of one PLC have gone since it was made; kept by its link.
struct PlcReadRecord {
  PlcState state = PlcState::kIdle;
  std::chrono::steady_clock::time_point since{};  // when the state began
  std::uint64_t reads_ok = 0;      // requests answered with values
  std::uint64_t reads_failed = 0;  // requests not answered, or answered with an error
  std::string last_error;          // the reason of the latest failed request; empty: none
};

// One PLC as the operator sees it: a snapshot taken under the PLC's lock.
struct PlcStatus {
  std::uint32_t id = 0;
  std::string name;  // the cloud's name for it
  std::string host;
  PlcReadRecord reads;
};
