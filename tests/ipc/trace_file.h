#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ipc_test {

// One message of a recorded bus conversation.
struct TraceMessage {
  int number = 0;
  std::string from;  // "CLI A", "ubusd", "rpcd"
  std::string to;
  std::vector<std::uint8_t> bytes;
};

// Reads a trace of tests/ipc/traces: every message's heading and raw bytes.
std::vector<TraceMessage> ReadTrace(const std::string& name);

// The text of the trace up to its first message (command lines and their output).
std::string TracePreamble(const std::string& name);

}  // namespace ipc_test
